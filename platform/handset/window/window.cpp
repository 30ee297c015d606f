// Window records of this host: creation and destruction, the z-order and the foreground,
// visibility, titles, enable state, icons, parents, and the built-in behaviour of each
// kind of window.
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
        (static_cast<std::uint64_t>(getpid()) << 32) | (static_cast<std::uint64_t>(++counter & 0x7FFFFFFF) << 1);
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

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

}  // namespace

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
    events().emit(kind, Json{{"title", to_utf8(title)}});
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

using namespace handset;
using namespace handset::wm;

namespace {

HWND strip_foreground_bit(HWND hwnd) {
    return reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(hwnd) & ~std::uintptr_t{1});
}

}  // namespace

BOOL SetForegroundWindow(HWND window) {
    // The handle with its lowest bit set also restores the window and its owned windows.
    const bool restore = (reinterpret_cast<std::uintptr_t>(window) & 1) != 0;
    const HWND hwnd = strip_foreground_bit(window);
    bool local = false;
    {
        std::lock_guard lock(state().mu);
        if (Window* w = find(hwnd)) {
            if (w->child) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
            local = true;
        }
    }
    if (local) return activate(hwnd, restore) ? TRUE : FALSE;
    TableRow row;
    if (table_find(hwnd, row)) return request_remote_foreground(row.pid, hwnd) ? TRUE : FALSE;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

HWND GetForegroundWindow() { return foreground_window(); }

BOOL ShowWindow(HWND window, int command) {
    bool was_visible = false;
    const char* event = nullptr;
    std::u16string title;
    {
        std::lock_guard lock(state().mu);
        Window* w = find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        was_visible = w->visible;
        switch (command) {
        case SW_HIDE:
        case SW_MINIMIZE:  // minimising hides the window on this platform
            w->visible = false;
            if (!w->child && w->popup.type != Popup::Type::None) w->popup = Popup{};
            break;
        case SW_SHOW:
        case SW_SHOWNORMAL:
            w->visible = true;
            if (!w->child) raise(w);
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!w->child) {
            table_put(row_of(*w));
            if (was_visible != w->visible) event = w->visible ? "window.show" : "window.hide";
        }
        title = w->text;
    }
    if (event) emit_window_event(event, title);
    screen_changed();
    return was_visible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    {
        std::lock_guard lock(state().mu);
        Window* w = find(window);
        if (w) {
            for (; w; w = w->child ? find(w->parent) : nullptr)
                if (!w->visible) return FALSE;
            return TRUE;
        }
    }
    TableRow row;
    return table_find(window, row) && row.visible ? TRUE : FALSE;
}

BOOL IsWindow(HWND window) {
    {
        std::lock_guard lock(state().mu);
        if (find(window)) return TRUE;
    }
    TableRow row;
    return table_find(window, row) ? TRUE : FALSE;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    {
        std::lock_guard lock(state().mu);
        Window* w = find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        w->text = text ? std::u16string(text) : std::u16string();
        if (!w->child) table_put(row_of(*w));
    }
    screen_changed();
    return TRUE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int size) {
    std::u16string text;
    bool found = false;
    {
        std::lock_guard lock(state().mu);
        if (Window* w = find(window)) {
            text = w->text;
            found = true;
        }
    }
    if (!found) {
        TableRow row;
        if (!table_find(window, row)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        text = row.title;
    }
    if (!buffer || size <= 0) return 0;
    const int n = std::min(static_cast<int>(text.size()), size - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    bool was_disabled = false;
    {
        std::lock_guard lock(state().mu);
        Window* w = find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        was_disabled = !w->enabled;
        w->enabled = enable != FALSE;
        // A disabled window cannot keep the focus: its dialog has none until one is given.
        if (!enable)
            if (Window* top = top_level_of(w); top && top->focus && (top->focus == window || is_descendant(find(top->focus), window)))
                top->focus = nullptr;
    }
    screen_changed();
    return was_disabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
    std::lock_guard lock(state().mu);
    Window* w = find(window);
    return w && w->enabled ? TRUE : FALSE;
}

HWND GetParent(HWND window) {
    std::lock_guard lock(state().mu);
    Window* w = find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return find(w->parent) ? w->parent : nullptr;
}

// The focus is kept per top-level window (a dialog's focused control); the thread's
// focus is that of its active window.
HWND SetFocus(HWND window) {
    HWND previous = GetFocus();
    std::lock_guard lock(state().mu);
    Window* w = find(window);
    Window* top = w ? top_level_of(w) : nullptr;
    if (!top || w->tid != current_thread()->id || !w->enabled) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    top->focus = window;
    return previous;
}

HWND GetFocus() {
    HWND active = thread_active_window();
    std::lock_guard lock(state().mu);
    Window* w = find(active);
    return w && find(w->focus) ? w->focus : nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
    std::lock_guard lock(state().mu);
    if (Window* d = find(dialog)) {
        for (HWND h : d->children) {
            Window* c = find(h);
            if (c && c->kind == Kind::Control && c->id == id) return h;
        }
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

BOOL DestroyWindow(HWND window) {
    {
        std::lock_guard lock(state().mu);
        Window* w = find(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        // Only the thread that owns a window may destroy it.
        if (w->tid != current_thread()->id) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    destroy_tree(window);
    return TRUE;
}

HICON LoadIconW(HINSTANCE, LPCWSTR name) {
    const auto value = reinterpret_cast<std::uintptr_t>(name);
    // Icons are named by resource id (MAKEINTRESOURCEW); the handle carries the id.
    if (value == 0 || value > 0xFFFF || !find_icon(static_cast<int>(value))) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HICON>(std::uintptr_t{0x1C000000} + (value << 4));
}
