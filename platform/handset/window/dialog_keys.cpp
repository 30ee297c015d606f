// Keys and the shell's user-interface pieces: key delivery to the foreground window,
// the soft-key bar (SHCreateMenuBar) and its popup menu, the dialogs' default keys
// (focus moves, checkbox clicks, list changes, Back), user clicks and list picks, and
// message boxes.
//
// A key's target is resolved when its thread takes it out of the queue, so keys typed
// ahead reach the dialog that is in front by then. While a popup (soft-key menu or a
// list) is open it takes every key before any pre-dispatch filter, as the platform's
// menu loop does.
#include <algorithm>

#include "platform/afxwin.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/window/wm_internal.h"

namespace handset::wm {
namespace {

std::mutex g_home_mu;
std::function<void(BYTE, bool)> g_home_key;

bool focusable(const Window* c) {
    return c && c->kind == Kind::Control && c->visible && c->enabled &&
           (c->control == ControlKind::Checkbox || c->control == ControlKind::ComboBox ||
            c->control == ControlKind::Button);
}

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

std::string control_name(int id) { return "control " + std::to_string(id); }

}  // namespace

std::vector<HWND> focusable_controls(Window* dialog) {
    std::vector<HWND> list;
    for (HWND h : dialog->children)
        if (focusable(find(h))) list.push_back(h);
    return list;
}

bool resolve_input(MSG& msg) {
    std::lock_guard lock(state().mu);
    Window* target = nullptr;
    // Keys typed ahead go to whatever this thread shows in front by now.
    Window* front = front_window();
    if (front && front->tid == current_thread()->id) target = front;
    else target = find(msg.hwnd);
    if (!target || !target->enabled) return false;
    const bool soft = msg.wParam == VK_TSOFT1 || msg.wParam == VK_TSOFT2;
    Window* bar = find(target->menubar);
    if (target->popup.type != Popup::Type::None) msg.hwnd = target->hwnd;
    else if (soft && bar && bar->visible) msg.hwnd = bar->hwnd;
    else if (find(target->focus)) msg.hwnd = target->focus;
    else msg.hwnd = target->hwnd;
    return true;
}

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

bool dialog_key(HWND dialog, MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    enum class Act { None, Click, Select, Cancel } act = Act::None;
    HWND control = nullptr;
    int index = -1;
    {
        std::lock_guard lock(state().mu);
        Window* d = find(dialog);
        Window* target = find(msg.hwnd);
        if (!d || !target || (target != d && !is_descendant(target, dialog))) return false;
        if (target->kind == Kind::MenuBar) return false;  // the soft keys belong to the bar
        Window* focus = find(d->focus);
        switch (msg.wParam) {
        case VK_UP:
        case VK_DOWN: {
            const bool down = msg.wParam == VK_DOWN;
            const auto& all = d->children;
            const auto at = std::find(all.begin(), all.end(), d->focus);
            HWND next = nullptr;
            if (down) {
                for (auto it = at == all.end() ? all.begin() : at + 1; it != all.end() && !next; ++it)
                    if (focusable(find(*it))) next = *it;
            } else {
                for (auto it = at == all.end() ? all.end() : at; it != all.begin() && !next;)
                    if (focusable(find(*--it))) next = *it;
            }
            if (next) d->focus = next;
            break;
        }
        case VK_RETURN:
            if (focus && focus->enabled && focus->control == ControlKind::ComboBox && !focus->items.empty()) {
                d->popup = Popup{Popup::Type::List, focus->hwnd, 1, {}, std::max(focus->selected, 0)};
                for (auto& item : focus->items) d->popup.items.push_back({0, item, false});
            } else if (focus && (focus->control == ControlKind::Checkbox || focus->control == ControlKind::Button)) {
                act = Act::Click;
                control = focus->hwnd;
            }
            break;
        case VK_LEFT:
        case VK_RIGHT:
            if (focus && focus->enabled && focus->control == ControlKind::ComboBox && !focus->items.empty()) {
                const int count = static_cast<int>(focus->items.size());
                const int step = msg.wParam == VK_RIGHT ? 1 : -1;
                index = focus->selected < 0 ? (step > 0 ? 0 : count - 1)
                                            : std::clamp(focus->selected + step, 0, count - 1);
                if (index != focus->selected) {
                    act = Act::Select;
                    control = focus->hwnd;
                }
            }
            break;
        case VK_ESCAPE:
            act = Act::Cancel;
            break;
        default:
            return false;
        }
    }
    screen_changed();
    std::string error;
    switch (act) {
    case Act::Click:
        click_control(control, error);
        break;
    case Act::Select:
        select_item(control, index, error);
        break;
    case Act::Cancel:
        call_window_proc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    case Act::None:
        break;
    }
    return true;
}

bool click_control(HWND control, std::string& error, const std::function<void()>& accepted) {
    HWND parent = nullptr;
    int id = 0;
    Json change;  // a checkbox's new state, as the screen shows it
    {
        std::lock_guard lock(state().mu);
        Window* c = find(control);
        if (!c || c->kind != Kind::Control) {
            error = "no such control";
            return false;
        }
        if (!c->visible || !c->enabled) {
            error = control_name(c->id) + (c->visible ? " is disabled" : " is hidden");
            return false;
        }
        if (c->control == ControlKind::Checkbox) {
            if (c->auto_check) c->checked = !c->checked;
        }
        else if (c->control != ControlKind::Button) {
            error = control_name(c->id) + " cannot be clicked";
            return false;
        }
        parent = c->parent;
        id = c->id;
        Window* top = top_level_of(c);
        if (top) top->focus = control;
        if (c->control == ControlKind::Checkbox)
            change = {{"dialog", top ? top->template_id : 0}, {"id", id}, {"checked", c->checked}};
    }
    screen_changed();
    if (!change.is_null()) events().emit("control.change", std::move(change));
    if (accepted) accepted();
    call_window_proc(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
    return true;
}

bool select_item(HWND combo, int index, std::string& error, const std::function<void()>& accepted) {
    HWND parent = nullptr;
    int id = 0;
    Json change;
    {
        std::lock_guard lock(state().mu);
        Window* c = find(combo);
        if (!c || c->kind != Kind::Control) {
            error = "no such control";
            return false;
        }
        if (c->control != ControlKind::ComboBox) {
            error = control_name(c->id) + " is not a list";
            return false;
        }
        if (!c->visible || !c->enabled) {
            error = control_name(c->id) + (c->visible ? " is disabled" : " is hidden");
            return false;
        }
        if (index < 0 || index >= static_cast<int>(c->items.size())) {
            error = "index " + std::to_string(index) + " is out of range: list " + std::to_string(c->id) + " has " +
                    std::to_string(c->items.size()) + " entries";
            return false;
        }
        c->selected = index;
        parent = c->parent;
        id = c->id;
        Window* top = top_level_of(c);
        if (top) top->focus = combo;
        change = {{"dialog", top ? top->template_id : 0}, {"id", id}, {"selected", index}};
    }
    screen_changed();
    events().emit("control.change", std::move(change));
    if (accepted) accepted();
    call_window_proc(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
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

namespace handset {

void deliver_key(BYTE vk, bool up) {
    std::shared_ptr<wm::ThreadQueue> q;
    HWND top = nullptr;
    {
        std::lock_guard lock(wm::state().mu);
        if (wm::Window* w = wm::front_window()) {
            top = w->hwnd;
            q = w->queue;
        }
    }
    if (!top) {
        std::function<void(BYTE, bool)> home;
        {
            std::lock_guard lock(wm::g_home_mu);
            home = wm::g_home_key;
        }
        if (home) home(vk, up);
        return;
    }
    wm::post_input(q, top, up ? WM_KEYUP : WM_KEYDOWN, vk);
}

void set_home_key_handler(std::function<void(BYTE vk, bool up)> handler) {
    std::lock_guard lock(wm::g_home_mu);
    wm::g_home_key = std::move(handler);
}

}  // namespace handset

using namespace handset;
using namespace handset::wm;

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
    if (!info) {
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
    const MenuTemplate* menu = nullptr;
    if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
        menu = find_menu(static_cast<int>(info->nToolBarId));
        if (!menu) {
            SetLastError(ERROR_FILE_NOT_FOUND);
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

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT) {
    HWND top_owner = nullptr;
    {
        std::lock_guard lock(state().mu);
        if (Window* o = top_level_of(find(owner))) top_owner = o->hwnd;
    }
    const std::u16string title = caption ? caption : u"Error";
    const std::u16string body = text ? text : u"";
    CreateParams params;
    params.kind = Kind::MessageBox;
    params.parent = top_owner;
    params.text = title;
    HWND box = create_window(std::move(params));
    if (!box) return 0;
    {
        std::lock_guard lock(state().mu);
        find(box)->message = body;
    }
    const bool disable_owner = top_owner && IsWindowEnabled(top_owner);
    if (disable_owner) EnableWindow(top_owner, FALSE);
    events().emit("msgbox", Json{{"text", to_utf8(body)}, {"caption", to_utf8(title)}});
    activate(box, true);

    int result = 0;
    pump_until([&] {
        std::lock_guard lock(state().mu);
        Window* w = find(box);
        if (w && w->box_done) result = w->box_result;
        return !w || w->box_done;
    });
    if (disable_owner) EnableWindow(top_owner, TRUE);
    if (IsWindow(box)) DestroyWindow(box);
    return result;
}
