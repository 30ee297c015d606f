// The phone's keys in one table: the name `press` takes, the name the logs and traces
// show, the virtual-key code, and the key of the host's keyboard that stands for it in
// the interactive front ends (its name as the help shows it and SDL spells it, and the
// curses key codes of the terminal).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

namespace phone {

struct PhoneKey {
    std::string_view press;     // as `press` takes it; empty when only `vk:N` names it
    std::string_view label;     // as logs and traces show it
    BYTE vk;
    std::string_view keyboard;  // the host key standing for it ("F1", "Escape"); empty: none
    int curses[3];              // the terminal's key codes for it; 0 where unused
};

// Every key of the phone, in the order the help lists them.
std::span<const PhoneKey> phone_keys();

// The virtual-key code for a name `press` takes (case-insensitive), including `vk:N`
// (decimal or 0x hex, 1 to 255); nothing for an unknown name.
std::optional<BYTE> key_by_press_name(std::string_view name);
// The phone key a curses key code stands for, or nothing.
std::optional<BYTE> key_by_curses(int code);
// The phone key the host key named `name` stands for ("F1", "Escape", "*": the names SDL
// gives keys and single typed characters), or nothing.
std::optional<BYTE> key_by_keyboard(std::string_view name);
// The label of a virtual-key code ("left soft", "5"), or "vk N" for one without.
std::string key_label(int vk);
// The names `press` takes, for help texts: "left, right, back, ..., 0-9, vk:N".
std::string press_names();

}  // namespace phone
