// The handset controls of the interactive phones: what happens to a phone from outside
// (a missed call, an SMS, a call, the mail client, the profile, the power button, the
// clock's pace), one click or one key away. Each control stands for a handset command,
// which the front end runs and records as if it had been typed; a control that would
// change nothing in the phone's present state gives no command and shows as disabled.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/handset/shell/phone_state.h"

namespace frontends {

struct HandsetControl {
    std::string_view name;   // "missed-add": how the window's layout names it
    std::string_view row;    // the panel row it sits in, by its label ("Missed")
    std::string_view label;  // on its button ("+1")
    std::string_view key;    // its shortcut: a character as typed ("m") or a key name ("F3")
    bool choice;             // one of its row's settings: disabled, it is the one in force
    // The command it gives in `state`; nothing where it would change nothing.
    std::optional<std::string> (*command)(const handset::shell::PhoneState& state);
};

// Every control, row by row in the panel's order of rows, each row's from left to right.
std::span<const HandsetControl> handset_controls();

// The control whose shortcut is `key`, or null.
const HandsetControl* control_by_key(std::string_view key);

// The shortcuts for a footer, row by row: "m/M missed +1/clear  s/S SMS +1/clear  ...".
std::string control_keys_help();

}  // namespace frontends
