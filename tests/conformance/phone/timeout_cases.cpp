// The power manager's timeouts and the battery, as the reference pages on the power
// manager and its registry settings give them.
#include "phone.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/power/power.h"

namespace phone_conformance {
namespace {

constexpr WCHAR kTimeouts[] = TEXT("SYSTEM\\CurrentControlSet\\Control\\Power\\Timeouts");

void set_timeout(LPCWSTR name, DWORD seconds) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTimeouts, 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS) return;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seconds), sizeof seconds);
    RegCloseKey(key);
}

std::string state() {
    const std::u16string s = handset::power_state();
    return std::string(s.begin(), s.end());
}

// The states seen at each of `seconds` after a key press, "state@s" joined by spaces.
std::string states_at(std::initializer_list<long long> seconds) {
    handset::power_button();
    const long long start = handset::clock().now_ms();
    std::string out;
    for (long long s : seconds) {
        handset::clock().sleep_ms(start + s * 1000 - handset::clock().now_ms());
        out += (out.empty() ? "" : " ") + state() + "@" + std::to_string(s);
    }
    handset::power_button();
    return out;
}

// Puts the factory timeouts back, so that each case starts from a new phone's.
struct FactoryTimeoutsAfter {
    ~FactoryTimeoutsAfter() {
        for (auto [name, value] : {std::pair{TEXT("ACUserIdle"), 60}, {TEXT("ACSystemIdle"), 60}, {TEXT("ACSuspend"), 0},
                                   {TEXT("BattUserIdle"), 30}, {TEXT("BattSystemIdle"), 30}, {TEXT("BattSuspend"), 0}})
            set_timeout(name, static_cast<DWORD>(value));
        handset::set_charger(false);
    }
};

}  // namespace

Group timeout_group() {
    return {"timeouts",
            {
                // "Power Manager Registry Settings": the six timeouts and BatteryPoll are DWORDs
                // under HKLM SYSTEM\CurrentControlSet\Control\Power\Timeouts.
                {"values_in_registry", "7 DWORDs",
                 [] {
                     HKEY key = nullptr;
                     if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTimeouts, 0, 0, &key) != ERROR_SUCCESS) return std::string("no key");
                     int dwords = 0;
                     for (LPCWSTR name : {TEXT("ACUserIdle"), TEXT("ACSystemIdle"), TEXT("ACSuspend"), TEXT("BattUserIdle"),
                                          TEXT("BattSystemIdle"), TEXT("BattSuspend"), TEXT("BatteryPoll")}) {
                         DWORD type = 0, value = 0, size = sizeof value;
                         if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
                             type == REG_DWORD)
                             ++dwords;
                     }
                     RegCloseKey(key);
                     return std::to_string(dwords) + " DWORDs";
                 }},
                // "System Power States" (Windows Mobile) and "Power Manager Suspend Timeouts": on
                // battery the backlight goes out after BattUserIdle seconds, and the screen after
                // BattSystemIdle more: the timeouts are counted one after the other.
                {"battery_steps", "on@9 backlightoff@10 backlightoff@24 useridle@25",
                 [] {
                     FactoryTimeoutsAfter restore;
                     set_timeout(TEXT("BattUserIdle"), 10);
                     set_timeout(TEXT("BattSystemIdle"), 15);
                     return states_at({9, 10, 24, 25});
                 }},
                // "Power Manager Suspend Timeouts": on AC power the AC values rule.
                {"charger_steps", "on@4 backlightoff@5 useridle@7",
                 [] {
                     FactoryTimeoutsAfter restore;
                     set_timeout(TEXT("ACUserIdle"), 5);
                     set_timeout(TEXT("ACSystemIdle"), 2);
                     handset::set_charger(true);
                     return states_at({4, 5, 7});
                 }},
                // "Power Manager Suspend Timeouts": a timeout of 0 is no timeout.
                {"zero_is_none", "on@3600",
                 [] {
                     FactoryTimeoutsAfter restore;
                     set_timeout(TEXT("BattUserIdle"), 0);
                     return states_at({3600});
                 }},
                // "System Power States" (Windows Mobile): a Smartphone has no suspend state,
                // whatever the Suspend timeouts say.
                {"no_suspend", "useridle@3600",
                 [] {
                     FactoryTimeoutsAfter restore;
                     set_timeout(TEXT("BattUserIdle"), 1);
                     set_timeout(TEXT("BattSystemIdle"), 1);
                     set_timeout(TEXT("BattSuspend"), 1);
                     return states_at({3600});
                 }},
                // "Power Manager Suspend Timeouts": a program that changes the timeouts sets the
                // event "PowerManager/ReloadActivityTimeouts", and the new values take effect.
                {"reload_event", "on@2 backlightoff@3",
                 [] {
                     FactoryTimeoutsAfter restore;
                     set_timeout(TEXT("BattUserIdle"), 3);
                     HANDLE reload = CreateEventW(nullptr, FALSE, FALSE, TEXT("PowerManager/ReloadActivityTimeouts"));
                     SetEvent(reload);
                     CloseHandle(reload);
                     return states_at({2, 3});
                 }},
                // "System Power States": user activity brings the phone back to on.
                {"key_brings_on", "useridle, then on",
                 [] {
                     FactoryTimeoutsAfter restore;
                     handset::power_set_state(TEXT("useridle"));
                     const std::string before = state();
                     keybd_event(VK_DOWN, 0, 0, 0);
                     keybd_event(VK_DOWN, 0, KEYEVENTF_KEYUP, 0);
                     return before + ", then " + state();
                 }},
                // "POWER_BROADCAST_POWER_INFO" (winbase.h, pm.h): AC line and battery flags.
                {"battery_constants", "AC 0 1 2 0xff; flags 0x1 0x2 0x4 0x8 0x80 0xff; percent unknown 0xff",
                 [] {
                     return "AC " + std::to_string(AC_LINE_OFFLINE) + " " + std::to_string(AC_LINE_ONLINE) + " " +
                            std::to_string(AC_LINE_BACKUP_POWER) + " " + hex(AC_LINE_UNKNOWN) + "; flags " +
                            hex(BATTERY_FLAG_HIGH) + " " + hex(BATTERY_FLAG_LOW) + " " + hex(BATTERY_FLAG_CRITICAL) + " " +
                            hex(BATTERY_FLAG_CHARGING) + " " + hex(BATTERY_FLAG_NO_BATTERY) + " " + hex(BATTERY_FLAG_UNKNOWN) +
                            "; percent unknown " + hex(BATTERY_PERCENTAGE_UNKNOWN);
                 }},
            }};
}

}  // namespace phone_conformance
