// The window calls of the platform's API on this host's window records: the foreground,
// showing and hiding, titles, enable state, parents, focus, dialog items, destruction
// and icons. Each checks its handle, changes the record under the window manager's lock
// and tells the screen afterwards.
#include <algorithm>

#include "platform/afxwin.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm_internal.h"

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
