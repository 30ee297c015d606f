// The home screen and the launcher's soft key.
#include "platform/handset/shell/launcher.h"

#include "platform/handset/devices/devices.h"
#include "platform/handset/display/screen.h"
#include "platform/handset/display/screen_snapshot.h"
#include "platform/handset/shell/home_screen.h"

namespace handset::frontend {
namespace {

thread_local bool t_user_press = false;

}  // namespace

Launcher::Launcher(PhoneTime time, std::function<void()> start) : time_(time), start_(std::move(start)) {
    set_home_screen_renderer([this] { return render_home_screen(read_phone_state(), time_); });
    set_shell_facts_source([this] { return shell_facts(read_phone_state(), time_); });
    set_home_key_handler([this](BYTE vk, bool up) {
        if (vk == VK_TSOFT1 && !up && t_user_press) start_();
    });
}

Launcher::~Launcher() {
    set_home_key_handler(nullptr);
    set_home_screen_renderer(nullptr);
    set_shell_facts_source(nullptr);
}

bool press_user_key(BYTE vk) {
    t_user_press = true;
    const bool queued = press_physical_key(vk);
    t_user_press = false;
    return queued;
}

}  // namespace handset::frontend
