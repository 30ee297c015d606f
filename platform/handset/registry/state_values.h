// Where the phone keeps its state in the registry: the values that the phone's shell,
// radio and messaging keep up to date (and that Quillon watches), and the carriers'
// phone-book entries. The factory writes them, the devices and front ends read and set
// them, the trace follows them: all from here.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/handset/registry/paths.h"

namespace handset {

struct StateValue {
    RegRoot root;
    const char16_t* key;   // below the root
    const char16_t* name;
    RegKeyPath key_path() const { return {root, key}; }
};

inline constexpr StateValue kMissedCallCount{RegRoot::CurrentUser, u"System\\State\\Phone", u"Missed Call Count"};
// The unread-SMS count is documented under HKCU; some firmware keeps it under HKLM, and a
// device made with --sms-root HKLM does so too (unread_sms_count() says which).
inline constexpr StateValue kUnreadSmsCount{RegRoot::CurrentUser, u"System\\State\\Messages\\SMS\\Unread", u"Count"};
inline constexpr StateValue kUnreadSmsCountHklm{RegRoot::LocalMachine, u"System\\State\\Messages\\SMS\\Unread",
                                                u"Count"};
inline constexpr StateValue kActiveCallCount{RegRoot::LocalMachine, u"System\\State\\Phone", u"Active Call Count"};
inline constexpr StateValue kActiveProfile{RegRoot::CurrentUser, u"ControlPanel\\Profiles", u"ActiveProfile"};
// Bit 2 set: the shell's key lock holds the keypad.
inline constexpr StateValue kKeypadLock{RegRoot::LocalMachine, u"System\\State", u"Lock"};

// The power manager's timeouts, DWORDs in seconds (0: none), under HKLM
// SYSTEM\CurrentControlSet\Control\Power\Timeouts, and the value a new phone has for
// each: the backlight goes out after 30 s on battery and 60 s on the charger, the screen
// after as long again, the phone never suspends by itself, and the battery is read
// every 5 s.
inline constexpr const char16_t* kPowerTimeoutsKey = u"SYSTEM\\CurrentControlSet\\Control\\Power\\Timeouts";
struct PowerTimeoutValue {
    const char16_t* name;
    DWORD factory;
};
inline constexpr PowerTimeoutValue kPowerTimeouts[] = {
    {u"ACUserIdle", 60},  {u"ACSystemIdle", 60},  {u"ACSuspend", 0}, {u"BattUserIdle", 30},
    {u"BattSystemIdle", 30}, {u"BattSuspend", 0}, {u"BatteryPoll", 5},
};

// Where the current device publishes the unread-SMS count; the documented place when
// there is no device.
const StateValue& unread_sms_count();

// A state value as a DWORD, from the current registry; nothing when there is no
// registry or the value is missing or not a REG_DWORD of 4 bytes. Emits nothing.
std::optional<DWORD> read_dword(const StateValue& state);
// Several DWORD values of one key, read in one snapshot; out[i] is names[i] as
// read_dword would give it.
std::vector<std::optional<DWORD>> read_dwords(const RegKeyPath& key, std::span<const std::u16string_view> names);

// A carrier's 3G phone-book entry under HKCU. The dialler reads its two values under the
// names of kEntryValueNames; other names (those a program moves them to, to block 3G) are
// not the phone's.
struct CarrierEntry {
    std::string_view model;    // the device's --model
    std::string_view handset;  // the handset model the carrier sells
    std::string_view entry;    // the entry's name
    const char16_t* key;
};

inline constexpr CarrierEntry kCarrierEntries[] = {
    {"skt", "SCH-M620", "SKT IE GPRS", u"Comm\\RasBook\\SKT IE GPRS"},
    {"ktf", "SPH-M6200", "KTF IE GPRS", u"Comm\\RasBook\\KTF IE GPRS"},
};

inline constexpr const char16_t* kEntryValueNames[] = {u"DevCfg", u"Entry"};

}  // namespace handset
