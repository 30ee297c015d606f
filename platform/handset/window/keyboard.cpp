// Keyboard input of the window manager: a key from the keypad goes into the queue of the
// foreground window's thread, and when that thread takes it out, it finds the key's
// target: an open popup takes every key, the soft keys go to the window's soft-key bar,
// any other key to the dialog's focused control (or the window itself). Which controls
// can take the focus is decided here too.
//
// The target is found when the key is taken out, not when it is put in, so keys typed
// ahead reach the dialog that is in front by then.
#include "platform/handset/core/kernel.h"
#include "platform/handset/window/wm_internal.h"

namespace handset::wm {

bool focusable(const Window* c) {
    return c && c->kind == Kind::Control && c->visible && c->enabled &&
           (c->control == ControlKind::Checkbox || c->control == ControlKind::ComboBox ||
            c->control == ControlKind::Button);
}

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

}  // namespace handset::wm

namespace handset {

bool deliver_key(BYTE vk, bool up) {
    std::shared_ptr<wm::ThreadQueue> q;
    HWND top = nullptr;
    {
        std::lock_guard lock(wm::state().mu);
        if (wm::Window* w = wm::front_window()) {
            top = w->hwnd;
            q = w->queue;
        }
    }
    if (!top) return false;
    wm::post_input(q, top, up ? WM_KEYUP : WM_KEYDOWN, vk);
    return true;
}

}  // namespace handset
