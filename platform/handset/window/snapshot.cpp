// The screen snapshot: the front window, the page a message box covers and the labels
// of the soft-key bar, copied out of the window records under the window lock.
#include "platform/handset/window/snapshot.h"

#include <mutex>
#include <tuple>

#include "platform/handset/window/wm_internal.h"

namespace handset {
namespace {

using wm::Kind;
using wm::Window;

// The window whose page the screen shows under `front`: `front` itself, or for a
// message box the visible window behind it (null when there is none).
const Window* page_under(const Window& front) {
    if (front.kind != Kind::MessageBox) return &front;
    for (HWND h : wm::state().zorder) {
        const Window* w = wm::find(h);
        if (w && w != &front && w->visible && w->kind != Kind::MessageBox) return w;
    }
    return nullptr;
}

std::pair<std::u16string, std::u16string> soft_key_labels(const Window& front) {
    // A message box and an open popup put the shell's own keys on the bar.
    if (front.kind == Kind::MessageBox) return {u"확인", u""};
    if (front.popup.type != wm::Popup::Type::None) return {u"선택", u"취소"};
    std::pair<std::u16string, std::u16string> labels;
    if (const Window* bar = wm::find(front.menubar); bar && bar->visible) {
        if (bar->soft[0].present) labels.first = bar->soft[0].label;
        if (bar->soft[1].present) labels.second = bar->soft[1].label;
    }
    return labels;
}

// Copies the dialog's visible controls; returns their windows, in the same order.
std::vector<HWND> copy_dialog(const Window& d, ScreenSnapshot& shot) {
    shot.page = ScreenSnapshot::Page::Dialog;
    shot.dialog_id = d.template_id;
    if (const DialogTemplate* t = find_dialog(d.template_id)) {
        shot.point_size = t->point_size;
        shot.dialog_cx = t->cx;
        shot.dialog_cy = t->cy;
    }
    std::vector<HWND> copied;
    for (HWND h : d.children) {
        const Window* c = wm::find(h);
        if (!c || c->kind != Kind::Control || !c->visible) continue;
        ControlShot control{c->id, c->control, c->text,     c->align,   c->x,      c->y,
                            c->cx, c->cy,      c->image_id, c->checked, c->enabled};
        if (c->control == ControlKind::ComboBox)
            control.text = c->selected >= 0 && c->selected < static_cast<int>(c->items.size()) ? c->items[c->selected]
                                                                                               : std::u16string();
        if (h == d.focus) shot.focus = static_cast<int>(shot.controls.size());
        shot.controls.push_back(std::move(control));
        copied.push_back(h);
    }
    return copied;
}

void copy_popup(const Window& front, const std::vector<HWND>& controls, ScreenSnapshot& shot) {
    const wm::Popup& p = front.popup;
    if (p.type == wm::Popup::Type::None || p.items.empty()) return;
    PopupShot popup;
    popup.menu = p.type == wm::Popup::Type::Menu;
    popup.soft_key = p.soft_key;
    popup.selected = p.selected;
    for (const auto& item : p.items) popup.items.push_back({item.text, item.separator});
    if (!popup.menu) {
        // The list hangs from its combobox, which the snapshot knows by position.
        for (std::size_t i = 0; i < controls.size(); ++i)
            if (controls[i] == p.source) popup.source = static_cast<int>(i);
    }
    shot.popup = std::move(popup);
}

}  // namespace

ScreenSnapshot template_snapshot(const DialogTemplate& dialog) {
    ScreenSnapshot shot;
    shot.window = true;
    shot.title = dialog.title;
    shot.page = ScreenSnapshot::Page::Dialog;
    shot.dialog_id = dialog.id;
    shot.point_size = dialog.point_size;
    shot.dialog_cx = dialog.cx;
    shot.dialog_cy = dialog.cy;
    for (const ControlTemplate& c : dialog.controls) {
        const std::u16string text = c.kind == ControlKind::ComboBox ? std::u16string() : std::u16string(c.text);
        shot.controls.push_back({c.id, c.kind, text, c.align, c.x, c.y, c.cx, c.cy, c.image_id});
    }
    return shot;
}

ScreenSnapshot snapshot_windows() {
    ScreenSnapshot shot;
    std::lock_guard lock(wm::state().mu);
    const Window* front = wm::front_window();
    if (!front) return shot;
    shot.window = true;
    shot.title = front->text;
    std::tie(shot.soft_left, shot.soft_right) = soft_key_labels(*front);
    std::vector<HWND> controls;
    if (const Window* page = page_under(*front)) {
        if (page->kind == Kind::Dialog) controls = copy_dialog(*page, shot);
        if (page->kind == Kind::Plain) {
            shot.page = ScreenSnapshot::Page::Plain;
            shot.body = page->body;
        }
    }
    if (front->kind == Kind::MessageBox)
        shot.message_box = front->message;
    else
        copy_popup(*front, controls, shot);
    return shot;
}

int dialog_template_of(HWND window) {
    std::lock_guard lock(wm::state().mu);
    Window* w = wm::find(window);
    const Window* top = w ? wm::top_level_of(w) : nullptr;
    return top ? top->template_id : 0;
}

}  // namespace handset
