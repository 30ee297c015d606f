// Window records of this host: creation and destruction, the z-order and the foreground,
// and the built-in behaviour of each kind of window. The calls the program makes on a
// window (visibility, titles, enable state, icons, parents) are in window_calls.cpp.
//
// Top-level windows are mirrored into the device's window table (table.cpp) as they
// change. HWND values are even and unique on the device: the host's OS process id in the
// high half and a counter in the low half, shifted left by one.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>

#include "platform/afxwin.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm_internal.h"

namespace handset::wm {
namespace {

std::atomic<std::uint64_t> g_generation{1};
std::mutex g_listener_mu;
std::function<void()> g_listener;

HWND new_hwnd() {
    static std::atomic<std::uint32_t> counter{0};
    const std::uint64_t value =
        (static_cast<std::uint64_t>(self_os_pid()) << 32) | (static_cast<std::uint64_t>(++counter & 0x7FFFFFFF) << 1);
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

bool owned_by(Window* w, HWND owner) {
    for (Window* o = w; o && !o->child;) {
        if (o->parent == owner) return true;
        o = find(o->parent);
    }
    return false;
}

// Removes a window's record (its children's records go with their own calls). State
// lock held; the record is handed back so that it dies after the lock is released.
std::shared_ptr<Window> remove_record(HWND hwnd) {
    assert(state().mu.held());
    auto& s = state();
    auto it = s.windows.find(hwnd);
    if (it == s.windows.end()) return nullptr;
    auto record = std::move(it->second);
    s.windows.erase(it);
    std::erase(s.zorder, hwnd);
    record->removed.store(true, std::memory_order_release);
    if (record->object) record->object->m_hWnd = nullptr;
    record->object = nullptr;
    if (record->shadow) record->shadow->m_hWnd = nullptr;
    if (record->child) {
        if (Window* parent = find(record->parent)) {
            std::erase(parent->children, hwnd);
            Window* top = top_level_of(parent);
            if (top->focus == hwnd) top->focus = nullptr;
            if (top->menubar == hwnd) top->menubar = nullptr;
            if (top->popup.source == hwnd) top->popup = Popup{};
        }
    } else {
        table_remove(hwnd);
    }
    return record;
}

}  // namespace

TableRow row_of(const Window& w) {
    return TableRow{w.hwnd, w.pid, w.tid, w.visible, w.activated, w.text, w.exe_path};
}

// Moves a top-level window to the front of the z-order. State lock held.
void raise(Window* w) {
    assert(state().mu.held());
    auto& z = state().zorder;
    std::erase(z, w->hwnd);
    z.insert(z.begin(), w->hwnd);
    w->activated = table_activate(w->hwnd);
}

// Destroys a window, the windows it owns on this thread and its children, each after
// its WM_DESTROY. No lock held.
void destroy_tree(HWND hwnd) {
    std::vector<HWND> owned;
    {
        std::lock_guard lock(state().mu);
        const DWORD me = current_thread()->id;
        for (auto& [h, w] : state().windows)
            if (!w->child && w->parent == hwnd && w->tid == me) owned.push_back(h);
    }
    for (HWND h : owned) destroy_tree(h);

    {
        std::lock_guard lock(state().mu);
        Window* w = find(hwnd);
        if (!w) return;
        if (!w->child && w->visible) {
            w->visible = false;
            table_put(row_of(*w));
        }
    }
    call_window_proc(hwnd, WM_DESTROY, 0, 0);

    std::vector<HWND> children;
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(state().mu);
        Window* w = find(hwnd);
        if (!w) return;
        children = w->children;
        queue = w->queue;
    }
    for (HWND child : children) destroy_tree(child);

    std::shared_ptr<Window> record;
    CWnd* object = nullptr;
    {
        std::lock_guard lock(state().mu);
        if (Window* w = find(hwnd)) object = w->object;
        record = remove_record(hwnd);
    }
    drop_timers(queue, hwnd);
    // The application's main window going away ends the application's message loop.
    if (object && AfxGetApp() && AfxGetApp()->m_pMainWnd == object) PostQuitMessage(0);
    record.reset();
    screen_changed();
}

State& state() {
    // Never destroyed: threads of the phone may still look at windows while the host
    // runs its static destructors on the way out.
    static State* s = new State;
    return *s;
}

Window* find(HWND hwnd) {
    assert(state().mu.held());
    if (!hwnd) return nullptr;
    auto& windows = state().windows;
    auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : it->second.get();
}

Window* top_level_of(Window* w) {
    while (w && w->child) w = find(w->parent);
    return w;
}

Window* front_window() {
    for (HWND h : state().zorder) {
        Window* w = find(h);
        if (w && w->visible) return w;
    }
    return nullptr;
}

bool is_descendant(const Window* w, HWND ancestor) {
    while (w && w->child) {
        if (w->parent == ancestor) return true;
        w = find(w->parent);
    }
    return false;
}

void screen_changed() {
    g_generation.fetch_add(1);
    std::function<void()> listener;
    {
        std::lock_guard lock(g_listener_mu);
        listener = g_listener;
    }
    if (listener) listener();
}

void emit_window_event(const char* kind, const std::u16string& title) {
    events().emit(kind, {{"title", to_utf8(title)}});
}

HWND create_window(CreateParams params) {
    auto w = std::make_shared<Window>();
    w->hwnd = new_hwnd();
    w->kind = params.kind;
    auto process = current_process();
    w->pid = process->pid;
    w->exe_path = process->exe_path;
    w->tid = current_thread()->id;
    w->queue = this_queue();
    w->child = params.child;
    w->text = std::move(params.text);
    w->visible = params.visible;
    w->proc = std::move(params.proc);
    const HWND hwnd = w->hwnd;
    {
        std::lock_guard lock(state().mu);
        Window* parent = find(params.parent);
        if (params.child && !parent) return nullptr;
        w->parent = parent ? params.parent : nullptr;
        if (params.child) parent->children.push_back(hwnd);
        Window* raw = w.get();
        state().windows.emplace(hwnd, std::move(w));
        if (!raw->child) {
            state().zorder.push_back(hwnd);
            table_put(row_of(*raw));
        }
    }
    screen_changed();
    return hwnd;
}

bool activate(HWND hwnd, bool show) {
    std::u16string title;
    bool shown = false;
    bool announce = true;
    {
        std::lock_guard lock(state().mu);
        Window* w = find(hwnd);
        if (!w || w->child) return false;
        announce = w->kind != Kind::MessageBox;  // a message box has its own event
        if (show && !w->visible) {
            w->visible = true;
            shown = true;
        }
        raise(w);
        table_put(row_of(*w));
        title = w->text;
        if (!w->enabled) {
            // A window disabled behind a modal window it owns: that window stays in front.
            for (HWND h : std::vector<HWND>(state().zorder)) {
                Window* o = find(h);
                if (o && o != w && o->visible && o->enabled && owned_by(o, hwnd)) {
                    raise(o);
                    break;
                }
            }
        }
    }
    if (announce && shown) emit_window_event("window.show", title);
    if (announce) emit_window_event("window.foreground", title);
    screen_changed();
    return true;
}

HWND thread_active_window() {
    std::lock_guard lock(state().mu);
    const DWORD me = current_thread()->id;
    for (HWND h : state().zorder) {
        Window* w = find(h);
        if (w && w->tid == me && w->enabled && w->kind != Kind::MessageBox) return h;
    }
    return nullptr;
}

void bind_object(HWND hwnd, CWnd* object) {
    std::lock_guard lock(state().mu);
    if (Window* old = find(object->m_hWnd); old && old->object == object) old->object = nullptr;
    object->m_hWnd = nullptr;
    if (Window* w = find(hwnd)) {
        w->object = object;
        object->m_hWnd = hwnd;
    }
}

void unbind_object(CWnd* object) {
    std::lock_guard lock(state().mu);
    if (Window* w = find(object->m_hWnd); w && w->object == object) w->object = nullptr;
    object->m_hWnd = nullptr;
}

CWnd* object_of(HWND hwnd) {
    std::lock_guard lock(state().mu);
    Window* w = find(hwnd);
    return w ? w->object : nullptr;
}

void destroy_thread_windows() {
    std::vector<HWND> mine;
    {
        std::lock_guard lock(state().mu);
        const DWORD me = current_thread()->id;
        for (auto& [h, w] : state().windows)
            if (!w->child && w->tid == me) mine.push_back(h);
    }
    for (HWND h : mine) destroy_tree(h);
}

void forget_thread_windows(DWORD tid) {
    std::vector<std::shared_ptr<Window>> removed;
    {
        std::lock_guard lock(state().mu);
        std::vector<HWND> gone;
        for (auto& [h, w] : state().windows)
            if (w->tid == tid) gone.push_back(h);
        for (HWND h : gone)
            if (auto record = remove_record(h)) removed.push_back(std::move(record));
    }
    if (!removed.empty()) {
        removed.clear();
        screen_changed();
    }
}

int window_count_of_thread(DWORD tid) {
    std::lock_guard lock(state().mu);
    int n = 0;
    for (auto& [h, w] : state().windows)
        if (!w->child && w->tid == tid) ++n;
    return n;
}

LRESULT builtin_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Kind kind;
    {
        std::lock_guard lock(state().mu);
        Window* w = find(hwnd);
        if (!w) return 0;
        kind = w->kind;
        if (message == WM_SETICON) {
            HICON& slot = wparam == ICON_BIG ? w->icon_big : w->icon_small;
            HICON previous = slot;
            slot = reinterpret_cast<HICON>(lparam);
            return reinterpret_cast<LRESULT>(previous);
        }
    }
    switch (kind) {
    case Kind::Plain:
        if (message == WM_CLOSE) DestroyWindow(hwnd);
        return 0;
    case Kind::Dialog:
        // Closing a dialog is its cancel command.
        if (message == WM_CLOSE) call_window_proc(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case Kind::MenuBar:
        if (message == WM_KEYDOWN && (wparam == VK_TSOFT1 || wparam == VK_TSOFT2))
            soft_key(hwnd, wparam == VK_TSOFT1 ? 0 : 1);
        return 0;
    case Kind::MessageBox: {
        int result = 0;
        if (message == WM_KEYDOWN && (wparam == VK_RETURN || wparam == VK_TSOFT1)) result = IDOK;
        if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) result = LOWORD(wparam);
        if (message == WM_CLOSE) result = IDOK;
        if (result) {
            std::lock_guard lock(state().mu);
            if (Window* w = find(hwnd)) {
                w->box_result = result;
                w->box_done = true;
            }
        }
        return 0;
    }
    case Kind::Control:
        return control_message(hwnd, message, wparam, lparam);
    }
    return 0;
}

}  // namespace handset::wm

namespace handset {

using namespace wm;

HWND create_top_level_window(std::u16string title, WindowProcedure proc) {
    if (!proc) return nullptr;
    CreateParams params;
    params.kind = Kind::Plain;
    params.text = std::move(title);
    params.proc = std::move(proc);
    HWND hwnd = create_window(std::move(params));
    if (hwnd) activate(hwnd, true);
    return hwnd;
}

LRESULT default_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return builtin_proc(window, message, wparam, lparam);
}

void set_window_body(HWND window, std::vector<std::u16string> lines) {
    {
        std::lock_guard lock(state().mu);
        Window* w = find(window);
        if (!w) return;
        w->body = std::move(lines);
    }
    screen_changed();
}

HWND foreground_window() {
    std::lock_guard lock(state().mu);
    Window* w = front_window();
    return w ? w->hwnd : nullptr;
}

std::uint64_t screen_generation() { return g_generation.load(); }

void set_screen_listener(std::function<void()> listener) {
    std::lock_guard lock(g_listener_mu);
    g_listener = std::move(listener);
}

bool bring_to_front(HWND window) { return activate(window, true); }

}  // namespace handset
