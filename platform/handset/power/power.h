// The power manager as the rest of the handset sees it: the system power state, the
// idle timeouts, the battery, and the services' start and stop.
//
// The phone runs the states that its platform's reference pages give a Windows Mobile
// phone, in order: "on", "backlightoff" (the backlight goes out) and "useridle" (the
// screen goes off). The two steps are timed by the values under HKLM
// SYSTEM\CurrentControlSet\Control\Power\Timeouts, in seconds, each counted from the
// step before (the timeouts are cumulative): UserIdle from on to backlightoff,
// SystemIdle from there to useridle; the AC values on the charger, the Batt ones on
// battery. 0 means no timeout, and the phone stays where it is. A Smartphone has no
// suspend state: the Suspend values are kept in the registry but never step. Any key,
// and the power button, bring the phone back to "on".
//
// The timeouts are read at start, again whenever a value under the key is written on
// the phone, and when the named event "PowerManager/ReloadActivityTimeouts" is set, as
// the platform asks of a program that changes them. A missing value takes the value a
// new phone has.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/handset/power/battery.h"

namespace handset {

// The timeouts of one power source, in seconds; 0: none. The registry's values and what a
// new phone has are in state_values.h (kPowerTimeouts).
struct IdleTimeouts {
    DWORD user_idle = 0;
    DWORD system_idle = 0;
    DWORD suspend = 0;
};

// Everything under the key: the AC and battery timeouts and BatteryPoll, the seconds
// between two reads of the battery (0: the battery is read only when it tells of a
// change, at a charger plugged in or out or a level set by hand).
struct PowerTimeouts {
    IdleTimeouts ac;
    IdleTimeouts battery;
    DWORD battery_poll = 0;
};

// The system power-state name ("on", "backlightoff", "useridle", ...).
std::u16string power_state();
// The power button: brings the phone back to "on" (a broadcast only when it was not).
void power_button();
// Sets the power state and broadcasts it, even when the name does not change.
void power_set_state(std::u16string_view name);
// Broadcasts a power-information change with the battery as it is; the state stays.
void power_info();

// A script's override of the timeouts (`device idle-timeout`): after this long without
// a key press "on" becomes "useridle", with no step before or after it; nothing: the
// phone never idles. Until the first call, and after power_stop(), the registry's
// timeouts rule.
void set_idle_timeout(std::optional<long long> ms);

// The battery: its reading now, and the two things a user does to it. Each change is
// told at once, as the battery's driver tells the power manager.
BatteryReading battery_reading();
void set_battery_percent(int percent);
void set_charger(bool on);

// The keypad tells the power manager of every key (see keypad.cpp).
void power_user_activity();
// The power manager's start and stop on the services thread (see start_device_services).
// power_stop() also puts the power manager back in its boot state, with a new battery.
void power_start();
void power_stop();

}  // namespace handset
