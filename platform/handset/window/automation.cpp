// The scripts' side of the window system: the foreground window's controls as JSON,
// and commands, clicks and list picks carried out on the window's own thread.
#include "platform/handset/window/automation.h"

#include <functional>
#include <memory>
#include <mutex>

#include "platform/handset/core/json.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/window/wm_internal.h"

namespace handset {
namespace {

using wm::Kind;
using wm::Window;
using wm::find;
using wm::state;

const char* kind_name(ControlKind kind) {
    switch (kind) {
    case ControlKind::Checkbox: return "checkbox";
    case ControlKind::ComboBox: return "combobox";
    case ControlKind::Static: return "static";
    case ControlKind::GroupBox: return "groupbox";
    case ControlKind::Picture: return "picture";
    case ControlKind::Button: return "button";
    }
    return "static";
}

// Runs `action` on the foreground window's thread for a UI command of a script. The
// action reports its verdict through the invocation before it notifies the program, so
// that a handler which opens a modal dialog does not hold the answer back.
bool run_on_front(const std::function<void(HWND top, wm::Invocation& inv)>& action, std::string& error,
                  bool* queued) {
    if (queued) *queued = false;
    HWND top = nullptr;
    std::shared_ptr<wm::ThreadQueue> q;
    {
        std::lock_guard lock(state().mu);
        Window* front = wm::front_window();
        if (!front) {
            error = "no window is in front";
            return false;
        }
        top = front->hwnd;
        q = front->queue;
    }
    auto inv = std::make_shared<wm::Invocation>();
    wm::Invocation* raw = inv.get();
    inv->body = [raw, top, action] { action(top, *raw); };
    switch (wm::invoke_on(q, top, inv)) {
    case wm::Delivery::Gone:
        error = "the window's thread has ended";
        return false;
    case wm::Delivery::Queued:
        if (queued) *queued = true;
        return true;
    case wm::Delivery::Handled:
        break;
    }
    // Keys the handler injected (the Back key of a "close" soft key) are handled too.
    settle_input();
    error = inv->error;
    return inv->ok;
}

HWND control_of(HWND top, int id, wm::Invocation& inv) {
    HWND control = GetDlgItem(top, id);
    if (!control) inv.error = "no control " + std::to_string(id) + " in the window in front";
    return control;
}

}  // namespace

std::string controls_json() {
    Json out = Json::object();
    std::lock_guard lock(state().mu);
    Window* front = wm::front_window();
    out["window"] = front ? Json(to_utf8(front->text)) : Json(nullptr);
    out["dialog"] = front && front->kind == Kind::Dialog ? Json(front->template_id) : Json(nullptr);
    Json controls = Json::array();
    if (front) {
        for (HWND h : front->children) {
            const Window* c = find(h);
            if (!c || c->kind != Kind::Control) continue;
            Json j = Json::object();
            j["id"] = c->id;
            j["kind"] = kind_name(c->control);
            switch (c->control) {
            case ControlKind::Checkbox:
                j["text"] = to_utf8(c->text);
                j["checked"] = c->checked;
                break;
            case ControlKind::ComboBox: {
                Json items = Json::array();
                for (auto& item : c->items) items.push_back(to_utf8(item));
                j["items"] = std::move(items);
                j["selected"] = c->selected;
                break;
            }
            case ControlKind::Picture:
                j["image"] = c->image_id;
                break;
            default:
                j["text"] = to_utf8(c->text);
                break;
            }
            j["enabled"] = c->enabled;
            j["visible"] = c->visible;
            controls.push_back(std::move(j));
        }
    }
    out["controls"] = std::move(controls);
    return out.dump();
}

bool ui_command(int id, std::string& error, bool* queued) {
    return run_on_front(
        [id](HWND top, wm::Invocation& inv) {
            if (!IsWindow(top)) {
                inv.error = "the window in front has closed";
                return;
            }
            inv.ok = true;
            wm::call_window_proc(top, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
        },
        error, queued);
}

bool ui_click(int id, std::string& error, bool* queued) {
    return run_on_front(
        [id](HWND top, wm::Invocation& inv) {
            if (HWND control = control_of(top, id, inv))
                wm::click_control(control, inv.error, [&] { inv.ok = true; });
        },
        error, queued);
}

bool ui_select(int id, int index, std::string& error, bool* queued) {
    return run_on_front(
        [id, index](HWND top, wm::Invocation& inv) {
            if (HWND control = control_of(top, id, inv))
                wm::select_item(control, index, inv.error, [&] { inv.ok = true; });
        },
        error, queued);
}

}  // namespace handset
