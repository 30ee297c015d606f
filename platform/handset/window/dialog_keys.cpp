// A dialog's own keys and the user's actions on its controls. Up and Down move the focus
// between the controls that can take it, Enter clicks a checkbox or button or opens a
// list's popup, Left and Right step a list's selection, Back cancels the dialog. A click
// and a list pick, whether a key, the popup, BM_CLICK or a script made them, change the
// control, move the focus to it and tell its parent with WM_COMMAND.
//
// The dialog's key filter (CDialog::PreTranslateMessage) hands its key messages here
// before they are dispatched; a key the dialog does not use goes on to the focused
// control. Other messages, the timers' among them, never come here.
#include <algorithm>
#include <optional>

#include "platform/handset/core/events.h"
#include "platform/handset/window/wm_internal.h"

namespace handset::wm {
namespace {

// What a dialog key leads to once the window lock is released.
struct KeyAction {
    enum class Kind { None, Click, Select, Cancel } kind = Kind::None;
    HWND control = nullptr;
    int index = -1;  // Select: the entry picked
};

bool is_list_with_entries(const Window* c) {
    return c && c->enabled && c->control == ControlKind::ComboBox && !c->items.empty();
}

// Up and Down: the focus moves to the next or the previous control that can take it,
// and stays at the first and the last.
void move_focus(Window& dialog, bool down) {
    const auto& all = dialog.children;
    const auto at = std::find(all.begin(), all.end(), dialog.focus);
    HWND next = nullptr;
    if (down) {
        for (auto it = at == all.end() ? all.begin() : at + 1; it != all.end() && !next; ++it)
            if (focusable(find(*it))) next = *it;
    } else {
        for (auto it = at == all.end() ? all.end() : at; it != all.begin() && !next;)
            if (focusable(find(*--it))) next = *it;
    }
    if (next) dialog.focus = next;
}

// Enter: a list opens its popup at the current entry; a checkbox or button is clicked.
KeyAction enter(Window& dialog, Window* focus) {
    if (is_list_with_entries(focus)) {
        dialog.popup = Popup{Popup::Type::List, focus->hwnd, 1, {}, std::max(focus->selected, 0)};
        for (auto& item : focus->items) dialog.popup.items.push_back({0, item, false});
    } else if (focus && (focus->control == ControlKind::Checkbox || focus->control == ControlKind::Button)) {
        return {KeyAction::Kind::Click, focus->hwnd};
    }
    return {};
}

// Left and Right: a list's selection steps one entry and stays at the ends; a list
// without a selection starts from the end the key points away from.
KeyAction step_list(Window* focus, bool right) {
    if (!is_list_with_entries(focus)) return {};
    const int count = static_cast<int>(focus->items.size());
    const int step = right ? 1 : -1;
    const int index = focus->selected < 0 ? (step > 0 ? 0 : count - 1)
                                          : std::clamp(focus->selected + step, 0, count - 1);
    if (index == focus->selected) return {};
    return {KeyAction::Kind::Select, focus->hwnd, index};
}

// The dialog's answer to key `vk`, with what it changes in the dialog made already;
// nothing when the key is not one of the dialog's. State lock held.
std::optional<KeyAction> answer_key(Window& dialog, WPARAM vk) {
    Window* focus = find(dialog.focus);
    switch (vk) {
    case VK_UP:
    case VK_DOWN:
        move_focus(dialog, vk == VK_DOWN);
        return KeyAction{};
    case VK_RETURN:
        return enter(dialog, focus);
    case VK_LEFT:
    case VK_RIGHT:
        return step_list(focus, vk == VK_RIGHT);
    case VK_ESCAPE:
        return KeyAction{KeyAction::Kind::Cancel};
    default:
        return std::nullopt;
    }
}

void carry_out(HWND dialog, const KeyAction& action) {
    std::string error;
    switch (action.kind) {
    case KeyAction::Kind::Click:
        click_control(action.control, error);
        break;
    case KeyAction::Kind::Select:
        select_item(action.control, action.index, error);
        break;
    case KeyAction::Kind::Cancel:
        call_window_proc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    case KeyAction::Kind::None:
        break;
    }
}

std::string control_name(int id) { return "control " + std::to_string(id); }

}  // namespace

bool dialog_key(HWND dialog, MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    KeyAction action;
    {
        std::lock_guard lock(state().mu);
        Window* d = find(dialog);
        Window* target = find(msg.hwnd);
        if (!d || !target || (target != d && !is_descendant(target, dialog))) return false;
        if (target->kind == Kind::MenuBar) return false;  // the soft keys belong to the bar
        const auto answer = answer_key(*d, msg.wParam);
        if (!answer) return false;
        action = *answer;
    }
    screen_changed();
    carry_out(dialog, action);
    return true;
}

bool click_control(HWND control, std::string& error, const std::function<void()>& accepted) {
    HWND parent = nullptr;
    int id = 0;
    std::optional<Fields> change;  // a checkbox's new state, as the screen shows it
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
            change = Fields{{"dialog", top ? top->template_id : 0}, {"id", id}, {"checked", c->checked}};
    }
    screen_changed();
    if (change) events().emit("control.change", std::move(*change));
    if (accepted) accepted();
    call_window_proc(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
    return true;
}

bool select_item(HWND combo, int index, std::string& error, const std::function<void()>& accepted) {
    HWND parent = nullptr;
    int id = 0;
    Fields change;
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
