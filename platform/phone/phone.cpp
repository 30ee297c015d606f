// Bringing a phone up and down for a front end.
#include "platform/phone/phone.h"

#include "platform/handset/devices/devices.h"

using namespace handset;
using namespace handset::shell;

namespace phone {

Phone::Phone(PhoneOptions options, EventLog::Sink sink)
    : options_(std::move(options)), sink_(events().add_sink(std::move(sink))), server_(executor_) {
    std::string error;
    if (!server_.start(error)) report(error + " (quillon ctl will not reach this phone)");
    if (!options_.home_screen) return;
    std::function<void()> launch = options_.launch;
    if (!launch) {
        launch = [this] {
            std::string error;
            if (!host_.start(std::nullopt, error)) report("cannot start Quillon: " + error);
        };
    }
    launcher_.emplace(*options_.home_screen, std::move(launch));
}

Phone::~Phone() {
    host_.set_on_end(nullptr);
    // Nothing may start Quillon from the home screen once the phone goes down.
    launcher_.reset();
    server_.stop();
    events().remove_sink(sink_);
}

void Phone::start_services() {
    start_device_services();
    services_ = true;
}

bool Phone::start_quillon(std::string& error) { return host_.start(std::nullopt, error); }

bool Phone::end(std::string& error) {
    const bool ended = !host_.running() || host_.quit(error);
    if (services_) stop_device_services();
    services_ = false;
    return ended;
}

void Phone::report(const std::string& text) const {
    if (options_.report) options_.report(text);
}

}  // namespace phone
