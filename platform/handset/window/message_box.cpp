// Message boxes: MessageBoxW puts a box in front of the caller's top-level window, which
// stays disabled while the box is up, and runs the caller's messages until the user has
// dismissed the box; the box's own keys are the built-in handling of its window.
#include "platform/handset/core/events.h"
#include "platform/handset/window/wm_internal.h"
#include "platform/windows.h"

using namespace handset;
using namespace handset::wm;

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
    events().emit("msgbox", {{"text", to_utf8(body)}, {"caption", to_utf8(title)}});
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
