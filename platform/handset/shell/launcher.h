// The handset's launcher: the home screen that is in front when no program window is,
// and its left soft key "Quillon", which starts the program as the launcher does.
#pragma once

#include <functional>

#include "platform/handset/shell/phone_state.h"
#include "platform/wintypes.h"

namespace handset::shell {

class Launcher {
public:
    // Installs the home screen and its key handler. `start` starts Quillon; a front end
    // with a worker thread hands it over there, others run it at once. Only the user's
    // own press of the left soft key starts it: one that a program injects (the key-lock
    // watch unlocking the keypad) while the home screen is in front starts nothing.
    Launcher(PhoneTime time, std::function<void()> start);
    // Removes both again.
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

private:
    PhoneTime time_;
    std::function<void()> start_;
};

}  // namespace handset::shell
