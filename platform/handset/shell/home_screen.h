// The home screen that is in front when no program window is, and the facts it and the
// lock screen show, both drawn from the phone's state and its clock.
#pragma once

#include <string>
#include <vector>

#include "platform/handset/shell/phone_state.h"

namespace handset::shell {

// What the home screen and the lock screen show for `state`: the
// facts both the text screen and the pixel screen draw.
ShellFacts shell_facts(const PhoneState& state, const PhoneTime& time);

// The home screen as the screen model's 14 lines of exactly 40 cells: a title bar, 12
// body lines and the soft-key bar with "Quillon" on the left soft key.
std::vector<std::string> render_home_screen(const PhoneState& state, const PhoneTime& time);

}  // namespace handset::shell
