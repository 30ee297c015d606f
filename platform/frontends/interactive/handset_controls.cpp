// The table of handset controls and what each one asks of the phone.
#include "platform/frontends/interactive/handset_controls.h"

#include "platform/handset/core/utf.h"

using namespace handset;
using namespace handset::shell;

namespace frontends {
namespace {

using ControlCommand = std::optional<std::string>;

ControlCommand when(bool useful, std::string command) {
    return useful ? ControlCommand(std::move(command)) : std::nullopt;
}

// A count that can be cleared: one that is not known to be zero already.
bool nonzero(const std::optional<DWORD>& count) { return !count || *count != 0; }

ControlCommand profile(const PhoneState& s, std::u16string_view name) {
    return when(s.profile != name, "profile " + to_utf8(name));
}

ControlCommand speed(const PhoneState& s, double factor) {
    return when(s.clock_speed != factor, "speed " + speed_text(factor));
}

// A call starts only where none is under way: the handset's calls come one at a time.
constexpr HandsetControl kControls[] = {
    {"speed-1", "Speed", "1×", "F6", true, [](const PhoneState& s) { return speed(s, 1); }},
    {"speed-10", "Speed", "10×", "F7", true, [](const PhoneState& s) { return speed(s, 10); }},
    {"speed-60", "Speed", "60×", "F8", true, [](const PhoneState& s) { return speed(s, 60); }},
    {"power-button", "Power", "Button", "p", false, [](const PhoneState&) -> ControlCommand { return "power button"; }},
    {"power-idle", "Power", "Idle", "i", false, [](const PhoneState& s) { return when(s.power == u"on", "power useridle"); }},
    {"power-suspend", "Power", "Suspend", "z", false,
     [](const PhoneState& s) { return when(s.power != u"suspend", "power suspend"); }},
    {"power-resume", "Power", "Resume", "Z", false, [](const PhoneState& s) { return when(s.power == u"suspend", "power on"); }},
    {"charger-on", "Battery", "Plug in", "b", false, [](const PhoneState& s) { return when(!s.charger, "charger on"); }},
    {"charger-off", "Battery", "Unplug", "B", false, [](const PhoneState& s) { return when(s.charger, "charger off"); }},
    {"missed-add", "Missed", "+1", "m", false, [](const PhoneState&) -> ControlCommand { return "missed +1"; }},
    {"missed-clear", "Missed", "Clear", "M", false, [](const PhoneState& s) { return when(nonzero(s.missed_calls), "missed 0"); }},
    {"sms-add", "Unread SMS", "+1", "s", false, [](const PhoneState&) -> ControlCommand { return "sms +1"; }},
    {"sms-clear", "Unread SMS", "Clear", "S", false, [](const PhoneState& s) { return when(nonzero(s.unread_sms), "sms 0"); }},
    {"call-start", "Calls", "Start", "c", false, [](const PhoneState& s) { return when(!nonzero(s.active_calls), "call 1"); }},
    {"call-end", "Calls", "End", "C", false, [](const PhoneState& s) { return when(nonzero(s.active_calls), "call 0"); }},
    {"profile-normal", "Profile", "Normal", "F3", true, [](const PhoneState& s) { return profile(s, u"Normal"); }},
    {"profile-silent", "Profile", "Silent", "F4", true, [](const PhoneState& s) { return profile(s, u"Silent"); }},
    {"profile-meeting", "Profile", "Meeting", "F5", true, [](const PhoneState& s) { return profile(s, u"Meeting"); }},
    {"mail-start", "Mail", "Start", "e", false, [](const PhoneState& s) { return when(!s.mail_running, "mail start"); }},
    {"mail-close", "Mail", "Close", "E", false, [](const PhoneState& s) { return when(s.mail_running, "mail close"); }},
};

// How the footer names each row's controls.
constexpr std::pair<std::string_view, std::string_view> kRowWords[] = {
    {"Speed", "speed"}, {"Power", "power"}, {"Battery", "charger"}, {"Missed", "missed"}, {"Unread SMS", "SMS"},
    {"Calls", "call"},  {"Profile", "profile"}, {"Mail", "mail"},
};

}  // namespace

std::span<const HandsetControl> handset_controls() { return kControls; }

const HandsetControl* control_by_key(std::string_view key) {
    for (const HandsetControl& c : kControls)
        if (c.key == key) return &c;
    return nullptr;
}

std::string control_keys_help() {
    std::string help;
    for (const auto& [row, word] : kRowWords) {
        std::string keys, labels;
        for (const HandsetControl& c : kControls) {
            if (c.row != row) continue;
            keys += (keys.empty() ? "" : "/") + std::string(c.key);
            labels += (labels.empty() ? "" : "/") + std::string(c.label);
        }
        help += (help.empty() ? "" : "  ") + keys + " " + std::string(word) + " " + labels;
    }
    return help;
}

}  // namespace frontends
