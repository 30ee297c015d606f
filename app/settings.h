// The settings store: the process-wide record of Quillon's ten stored settings and the
// facts read from the device at start, the program folder, the small registry and file
// helpers every part of the program uses, and the call-state read the watch shares.
//
// The settings live as REG_DWORD values under HKEY_CURRENT_USER "Software\Quillon". They
// are read once at start; afterwards a settings dialog changes a field and writes the
// matching value at the same moment.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "platform/windows.h"
#include "res/program_facts.h"

// One setting: an aligned 32-bit word. The user-interface thread replaces it whole and
// the power watch thread reads it without a lock, so it is an atomic word: a reader sees
// either the old or the new value, never a mixture.
using SettingWord = std::atomic<LONG>;

// The stored fields carry their registry values' own names, in the values' own mixed case,
// so that a field and the value it is saved in are found by one search. The program's
// globals keep the platform API's Hungarian style (g_nIdleTicks, g_hStopEvent), which the
// program is written in throughout; neither style is used in the platform's own code.
struct AppSettingsRecord {
    // Stored under "Software\Quillon", each under its own name.
    SettingWord enableTmail3Gsvc{1};
    SettingWord enableTmail3GsvcAlert{1};
    SettingWord enableCallAlert{0};
    SettingWord enableSmsAlert{0};
    SettingWord AlertInterval{0};
    SettingWord EnableVibrateAlert{0};
    SettingWord EnableAutoKeylock{0};
    SettingWord KeylockTimeout{0};
    SettingWord EnableVibrateAlertKeylock{0};
    SettingWord EnablePowerKeyUnlock{0};

    // Read from the device or derived, never stored under "Software\Quillon".
    SettingWord carrier{0};           // 0 none, 1 SKT phone-book entry, 2 KTF entry
    SettingWord data3GAllowed{0};     // 1 allowed, 0 blocked
    SettingWord autostartEnabled{0};  // the start-up shortcut exists
    SettingWord alertIntervalTicks{0};
    SettingWord keylockTimeoutTicks{0};
};

extern AppSettingsRecord AppSettings;

// One of the ten stored settings: its registry value name, its field of AppSettings and
// the value the load gives it when it cannot be read.
struct StoredSetting {
    LPCWSTR name;
    SettingWord AppSettingsRecord::*field;
    LONG whenMissing;
};

// The ten stored settings, in the order the load reads them.
inline constexpr std::array<StoredSetting, 10> kStoredSettings{{
    {setting_name::kEnableTmail3Gsvc, &AppSettingsRecord::enableTmail3Gsvc, 1},
    {setting_name::kEnableTmail3GsvcAlert, &AppSettingsRecord::enableTmail3GsvcAlert, 1},
    {setting_name::kEnableCallAlert, &AppSettingsRecord::enableCallAlert, 1},
    {setting_name::kEnableSmsAlert, &AppSettingsRecord::enableSmsAlert, 1},
    {setting_name::kAlertInterval, &AppSettingsRecord::AlertInterval, 1},
    {setting_name::kEnableVibrateAlert, &AppSettingsRecord::EnableVibrateAlert, 1},
    {setting_name::kEnableAutoKeylock, &AppSettingsRecord::EnableAutoKeylock, 1},
    {setting_name::kKeylockTimeout, &AppSettingsRecord::KeylockTimeout, 2},
    {setting_name::kEnableVibrateAlertKeylock, &AppSettingsRecord::EnableVibrateAlertKeylock, 1},
    {setting_name::kEnablePowerKeyUnlock, &AppSettingsRecord::EnablePowerKeyUnlock, 1},
}};

// The folder of the running executable, without a trailing backslash; empty until the
// main window sets it.
extern WString programFolder;

// Gives the record and the program folder the values they have when a process starts.
void ResetAppSettings();

inline constexpr LPCWSTR kStartupShortcut = TEXT("\\Windows\\StartUp\\Quillon.lnk");

// The device path of one of the program's sounds, by its file name.
WString ProgramSoundPath(LPCWSTR name);

// Reads a value of exactly 4 bytes, of any type. On failure (key or value absent, data
// of another length) returns false and leaves `value` untouched.
bool ReadRegDword(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD& value);
// Reads a string of at most 100 bytes (50 code units with the terminator). The text
// ends at its terminator, or at the end of the data when it was stored without one.
bool ReadRegString(HKEY root, LPCWSTR sub_key, LPCWSTR name, WString& text);
// Creates the key when missing and sets the value as a 4-byte REG_DWORD. On failure the
// platform's error code is left as the last error.
bool WriteRegDword(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD value);
// The target text of the start-up shortcut: "Quillon.exe" in `folder`, in double quotes.
WString StartupShortcutTarget(const WString& folder);
// True when the file can be opened for reading without sharing.
bool FileExists(LPCWSTR path);

// Which carrier's 3G phone-book entry exists: 1 SKT (wins when both do), 2 KTF, 0 none.
LONG DetectCarrier();
// The phone-book entry key of a carrier, or null for carrier 0 and unknown values.
LPCWSTR CarrierEntryKey(LONG carrier);
// True while "Active Call Count" of HKLM "System\State\Phone" is non-zero; an unreadable
// count counts as no call.
bool CallInProgress();
// 1 when the entry of AppSettings.carrier is in its allowed form ("DevCfg" readable and
// "NoDevCfg" not), else 0.
LONG Read3GState();

// The tick limits of the two list settings; an index outside the list keeps `current`.
LONG AlertIntervalTicksFor(LONG alert_interval, LONG current);
LONG KeylockTimeoutTicksFor(LONG keylock_timeout, LONG current);

// Fills AppSettings from the device and "Software\Quillon": carrier, 3G state,
// shortcut, the ten stored values with their fallbacks, then the two tick limits.
void LoadAppSettings();
