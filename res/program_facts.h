// The names and numbers of Quillon that are seen from outside the program: its watch
// period, the sounds and vibrations of its reminder and 3G switch, where its settings are
// stored and which dialog control shows each, and the forms it gives the carrier's 3G
// phone-book entry. The program reads them from here, and so do the phone's trace and
// commands, the monkeys that check a run, and the driver under Wine: the names are
// written once. What each of those does with them is its own.
#pragma once

#include <array>

#include "platform/windows.h"
#include "res/resources.h"

// The main window's only timer: every expiry is one watch tick, and every watch step
// counts in these ticks.
inline constexpr UINT WATCH_TIMER_ID = 100;
inline constexpr UINT WATCH_TIMER_PERIOD_MS = 3000;

// The sounds, in the folder kSoundFolder beside the executable. A reminder plays the
// sound of what is pending, then the sound of the count: kCountSoundPrefix, the count and
// kCountSoundSuffix up to kLargestCountSound, kCountOverSound above it.
inline constexpr WCHAR kSoundFolder[] = TEXT("Sound");
inline constexpr WCHAR kMissedCallSound[] = TEXT("missedCall.wav");
inline constexpr WCHAR kUnreadSmsSound[] = TEXT("unreadSms.wav");
inline constexpr WCHAR kMissedCallSmsSound[] = TEXT("missedCallSms.wav");
inline constexpr WCHAR kCountSoundPrefix[] = TEXT("alert");
inline constexpr WCHAR kCountSoundSuffix[] = TEXT(".wav");
inline constexpr LONG kLargestCountSound = 10;
inline constexpr WCHAR kCountOverSound[] = TEXT("alertOver.wav");
// Played when the mail client is let through the 3G block, and when the block returns.
inline constexpr WCHAR k3GAllowedSound[] = TEXT("enable3Gsvc.wav");
inline constexpr WCHAR k3GBlockedSound[] = TEXT("disable3Gsvc.wav");
// The pause between a reminder's first sound ending and its count sound starting.
inline constexpr DWORD kCountSoundPauseMs = 150;

// The reminder in the "Silent" profile: pulses of these lengths with kReminderPulsePauseMs
// between them. During a call the reminder is a single pulse of kInCallPulseMs.
inline constexpr std::array<DWORD, 3> kReminderPulsesMs{300, 300, 500};
inline constexpr DWORD kReminderPulsePauseMs = 100;
inline constexpr DWORD kInCallPulseMs = 100;

// The settings: REG_DWORD values under HKEY_CURRENT_USER kSettingsKey.
inline constexpr WCHAR kSettingsKey[] = TEXT("Software\\Quillon");
namespace setting_name {
inline constexpr WCHAR kEnableTmail3Gsvc[] = TEXT("enableTmail3Gsvc");
inline constexpr WCHAR kEnableTmail3GsvcAlert[] = TEXT("enableTmail3GsvcAlert");
inline constexpr WCHAR kEnableCallAlert[] = TEXT("enableCallAlert");
inline constexpr WCHAR kEnableSmsAlert[] = TEXT("enableSmsAlert");
inline constexpr WCHAR kAlertInterval[] = TEXT("AlertInterval");
inline constexpr WCHAR kEnableVibrateAlert[] = TEXT("EnableVibrateAlert");
inline constexpr WCHAR kEnableAutoKeylock[] = TEXT("EnableAutoKeylock");
inline constexpr WCHAR kKeylockTimeout[] = TEXT("KeylockTimeout");
inline constexpr WCHAR kEnableVibrateAlertKeylock[] = TEXT("EnableVibrateAlertKeylock");
inline constexpr WCHAR kEnablePowerKeyUnlock[] = TEXT("EnablePowerKeyUnlock");
}  // namespace setting_name

// The control of a settings dialog that shows each stored setting.
struct SettingControl {
    int dialog;
    int control;
    LPCWSTR name;
};
inline constexpr std::array<SettingControl, 10> kSettingControls{{
    {IDD_SET_3GSVC, IDC_TMAIL_3GSVC, setting_name::kEnableTmail3Gsvc},
    {IDD_SET_3GSVC, IDC_TMAIL_3GSVC_ALERT, setting_name::kEnableTmail3GsvcAlert},
    {IDD_SET_ALERT, IDC_CALL_ALERT, setting_name::kEnableCallAlert},
    {IDD_SET_ALERT, IDC_SMS_ALERT, setting_name::kEnableSmsAlert},
    {IDD_SET_ALERT, IDC_ALERT_INTERVAL, setting_name::kAlertInterval},
    {IDD_SET_ALERT, IDC_ALERT_VIBRATE, setting_name::kEnableVibrateAlert},
    {IDD_SET_KEYLOCK, IDC_AUTO_KEYLOCK, setting_name::kEnableAutoKeylock},
    {IDD_SET_KEYLOCK, IDC_KEYLOCK_TIMEOUT, setting_name::kKeylockTimeout},
    {IDD_SET_KEYLOCK, IDC_KEYLOCK_VIBRATE, setting_name::kEnableVibrateAlertKeylock},
    {IDD_SET_GENERAL, IDC_POWERKEY_UNLOCK, setting_name::kEnablePowerKeyUnlock},
}};

// The carriers' 3G phone-book entries under HKEY_CURRENT_USER, as the program knows them,
// and the two forms of an entry's pair of values: the names the dialler reads (3G allowed)
// and the names the program moves them to so that it cannot (3G blocked).
inline constexpr WCHAR kSktEntryKey[] = TEXT("Comm\\RasBook\\SKT IE GPRS");
inline constexpr WCHAR kKtfEntryKey[] = TEXT("Comm\\RasBook\\KTF IE GPRS");
struct PhoneBookForm {
    LPCWSTR dev_cfg;
    LPCWSTR entry;
};
inline constexpr PhoneBookForm kAllowedEntryForm{TEXT("DevCfg"), TEXT("Entry")};
inline constexpr PhoneBookForm kBlockedEntryForm{TEXT("NoDevCfg"), TEXT("NoEntry")};
