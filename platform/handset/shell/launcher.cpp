// The home screen and the launcher's soft key.
#include "platform/handset/shell/launcher.h"

#include "platform/handset/devices/devices.h"
#include "platform/handset/display/screen.h"
#include "platform/handset/display/screen_snapshot.h"
#include "platform/handset/shell/home_screen.h"

namespace handset::shell {

Launcher::Launcher(PhoneTime time, std::function<void()> start) : time_(time), start_(std::move(start)) {
    set_home_screen_renderer([this] { return render_home_screen(read_phone_state(), time_); });
    set_shell_facts_source([this] { return shell_facts(read_phone_state(), time_); });
    set_home_key_handler([this](BYTE vk, bool up, bool physical) {
        if (vk == VK_TSOFT1 && !up && physical) start_();
    });
}

Launcher::~Launcher() {
    set_home_key_handler(nullptr);
    set_home_screen_renderer(nullptr);
    set_shell_facts_source(nullptr);
}

}  // namespace handset::shell
