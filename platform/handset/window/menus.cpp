// The soft-key bar and its popups: the bars SHCreateMenuBar and the framework's command
// bar build, a soft key's press (a command for the bar's window, or a popup menu), and
// the keys of an open popup menu or list. While a popup is open it takes every key
// before any pre-dispatch filter, as the platform's menu loop does. A menu pick is a
// command for the bar's window; a list pick goes to select_item (dialog_keys.cpp).
#include <cstddef>

#include "platform/handset/core/faults.h"
#include "platform/handset/window/wm_internal.h"
#include "platform/windows.h"

namespace handset::wm {
namespace {

std::vector<MenuEntry> entries_of(std::span<const MenuItem> items) {
    std::vector<MenuEntry> entries;
    for (const MenuItem& item : items) entries.push_back({item.id, std::u16string(item.text), item.separator});
    return entries;
}

SoftKey soft_key_of(const MenuItem& item) {
    SoftKey key;
    key.present = true;
    key.label = item.text;
    key.command = item.id;
    key.popup = entries_of(item.popup);
    return key;
}

int first_selectable(const std::vector<MenuEntry>& items) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (!items[i].separator) return static_cast<int>(i);
    return -1;
}

// Next selectable entry from `from` in direction `step`, wrapping around.
int step_selection(const std::vector<MenuEntry>& items, int from, int step) {
    const int n = static_cast<int>(items.size());
    if (n == 0) return -1;
    int i = from;
    for (int tries = 0; tries < n; ++tries) {
        i = ((i + step) % n + n) % n;
        if (!items[i].separator) return i;
    }
    return from;
}

}  // namespace

bool popup_key(MSG& msg) {
    Popup picked;
    {
        std::lock_guard lock(state().mu);
        Window* top = top_level_of(find(msg.hwnd));
        if (!top || top->popup.type == Popup::Type::None) return false;
        if (msg.message != WM_KEYDOWN) return true;
        Popup& p = top->popup;
        const auto vk = static_cast<BYTE>(msg.wParam);
        bool pick = false;
        bool close = false;
        if (vk == VK_UP) p.selected = step_selection(p.items, p.selected, -1);
        else if (vk == VK_DOWN) p.selected = step_selection(p.items, p.selected, +1);
        else if (vk == VK_RETURN || vk == VK_TSOFT1) pick = true;
        else if (vk == VK_ESCAPE || vk == VK_TSOFT2) close = true;
        else if (p.type == Popup::Type::Menu && vk >= '1' && vk <= '9') {
            // Menu entries are numbered 1 to 9, separators not counted.
            int n = vk - '0';
            for (std::size_t i = 0; i < p.items.size(); ++i) {
                if (p.items[i].separator) continue;
                if (--n == 0) {
                    p.selected = static_cast<int>(i);
                    pick = true;
                    break;
                }
            }
        }
        if (pick && p.selected >= 0) picked = p;
        if (pick || close) top->popup = Popup{};
    }
    screen_changed();
    if (picked.type == Popup::Type::Menu) {
        HWND owner = nullptr;
        {
            std::lock_guard lock(state().mu);
            if (Window* bar = find(picked.source)) owner = bar->parent;
        }
        if (owner)
            call_window_proc(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(picked.items[picked.selected].id), 0), 0);
    } else if (picked.type == Popup::Type::List) {
        std::string error;
        select_item(picked.source, picked.selected, error);
    }
    return true;
}

void soft_key(HWND menubar, int key) {
    HWND owner = nullptr;
    int command = 0;
    {
        std::lock_guard lock(state().mu);
        Window* bar = find(menubar);
        Window* top = bar ? find(bar->parent) : nullptr;
        if (!top || !bar->visible || !bar->soft[key].present) return;
        const SoftKey& k = bar->soft[key];
        if (!k.popup.empty()) {
            top->popup = Popup{Popup::Type::Menu, menubar, key, k.popup, first_selectable(k.popup)};
        } else {
            owner = top->hwnd;
            command = k.command;
        }
    }
    screen_changed();
    if (owner) call_window_proc(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command), 0), 0);
}

HWND make_menu_bar(HWND top, const MenuTemplate* menu) {
    CreateParams params;
    params.kind = Kind::MenuBar;
    params.parent = top;
    params.child = true;
    params.visible = true;
    HWND bar = create_window(std::move(params));
    if (!bar) return nullptr;
    {
        std::lock_guard lock(state().mu);
        Window* b = find(bar);
        Window* t = find(top);
        if (!b || !t) return nullptr;
        if (menu) {
            for (std::size_t i = 0; i < menu->items.size() && i < 2; ++i) b->soft[i] = soft_key_of(menu->items[i]);
        }
        t->menubar = bar;
        t->popup = Popup{};
    }
    screen_changed();
    return bar;
}

}  // namespace handset::wm

using namespace handset;
using namespace handset::wm;

// The phone's soft-key bar: cbSize must be the record's size (or, from older callers,
// its size without clrBk), and a menu has at most two top-level items, one per soft key,
// and no images.
BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
    if (!info || (info->cbSize != sizeof(SHMENUBARINFO) && info->cbSize != offsetof(SHMENUBARINFO, clrBk))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hwndMB = nullptr;
    if (fault_active(Fault::ShellMenuBar)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    {
        std::lock_guard lock(state().mu);
        Window* parent = find(info->hwndParent);
        if (!parent || parent->child) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
    }
    // With SHCMBF_HMENU the id names a menu; without it, a soft-key bar definition (one
    // button and its label), which becomes a one-item menu here.
    const MenuTemplate* menu = nullptr;
    MenuItem bar_button{};
    MenuTemplate bar_menu{};
    if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
        const int id = static_cast<int>(info->nToolBarId);
        if (info->dwFlags & SHCMBF_HMENU) {
            menu = find_menu(id);
        } else if (const SoftKeyBarResource* def = find_softkey_bar(id)) {
            bar_button = MenuItem{def->command, find_string(def->label_string)};
            bar_menu = MenuTemplate{def->id, {&bar_button, 1}};
            menu = &bar_menu;
        }
        if (!menu) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        // A Smartphone's bar is its two soft keys: it has no room for a third item or
        // for toolbar images.
        if (menu->items.size() > 2 || info->cBmpImages != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    HWND bar = make_menu_bar(info->hwndParent, menu);
    if (!bar) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (info->dwFlags & SHCMBF_HIDDEN) ShowWindow(bar, SW_HIDE);
    info->hwndMB = bar;
    return TRUE;
}

// The handset's controls need no extra registration.
BOOL SHInitExtraControls() { return TRUE; }
