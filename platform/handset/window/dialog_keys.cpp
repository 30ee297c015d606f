// A dialog's own keys and the user's actions on its controls. Up and Down move the focus
// between the controls that can take it, Enter clicks a checkbox or button or opens a
// list's popup, Left and Right step a list's selection, Back cancels the dialog. A click
// and a list pick, whether a key, the popup, BM_CLICK or a script made them, change the
// control, move the focus to it and tell its parent with WM_COMMAND.
//
// The dialog's key filter (CDialog::PreTranslateMessage) hands the keys here before
// they are dispatched; a key the dialog does not use goes on to the focused control.
#include <algorithm>

#include "platform/handset/core/events.h"
#include "platform/handset/window/wm_internal.h"

namespace handset::wm {
namespace {

std::string control_name(int id) { return "control " + std::to_string(id); }

}  // namespace

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

}  // namespace handset::wm
