// The settings store: the AppSettings record, the program folder, the registry and
// file helpers, the carrier, call and 3G probes and the load at start.
#include "app/settings.h"

#include <algorithm>
#include <array>

AppSettingsRecord AppSettings;
WString programFolder;

void ResetAppSettings() {
    AppSettings.enableTmail3Gsvc = 1;
    AppSettings.enableTmail3GsvcAlert = 1;
    AppSettings.enableCallAlert = 0;
    AppSettings.enableSmsAlert = 0;
    AppSettings.AlertInterval = 0;
    AppSettings.EnableVibrateAlert = 0;
    AppSettings.EnableAutoKeylock = 0;
    AppSettings.KeylockTimeout = 0;
    AppSettings.EnableVibrateAlertKeylock = 0;
    AppSettings.EnablePowerKeyUnlock = 0;
    AppSettings.carrier = 0;
    AppSettings.data3GAllowed = 0;
    AppSettings.autostartEnabled = 0;
    AppSettings.alertIntervalTicks = 0;
    AppSettings.keylockTimeoutTicks = 0;
    programFolder.clear();
}

bool ReadRegDword(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, sub_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data), &size);
    RegCloseKey(key);
    // A shorter value would leave part of the word unwritten: it does not count as read.
    if (rc != ERROR_SUCCESS || size != sizeof(data)) return false;
    value = data;
    return true;
}

bool ReadRegString(HKEY root, LPCWSTR sub_key, LPCWSTR name, WString& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, sub_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    std::array<WCHAR, 50> buffer{};
    DWORD size = sizeof(buffer);
    const LONG rc =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    // The data need not end in a terminator; never look beyond what was stored.
    const std::size_t units = std::min<std::size_t>(size / sizeof(WCHAR), buffer.size());
    const auto end = std::find(buffer.begin(), buffer.begin() + units, TEXT('\0'));
    text.assign(buffer.begin(), end);
    return true;
}

bool WriteRegDword(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD value) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG opened = RegCreateKeyExW(root, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                        &key, &disposition);
    if (opened != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(opened));
        return false;
    }
    const LONG rc =
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
    return rc == ERROR_SUCCESS;
}

WString StartupShortcutTarget(const WString& folder) {
    std::array<WCHAR, 1024> target{};
    wsprintfW(target.data(), TEXT("\"%s\\Quillon.exe\""), folder.c_str());
    return target.data();
}

WString ProgramSoundPath(LPCWSTR name) {
    std::array<WCHAR, 1024> path{};
    wsprintfW(path.data(), TEXT("%s\\%s\\%s"), programFolder.c_str(), kSoundFolder, name);
    return path.data();
}

bool FileExists(LPCWSTR path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

namespace {

bool KeyOpensForReading(HKEY root, LPCWSTR sub_key) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, sub_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A phone-book value counts as present only when it fits the 2048-byte buffer.
bool PhoneBookValueReadable(HKEY entry, LPCWSTR name) {
    std::array<BYTE, 2048> data{};
    DWORD size = static_cast<DWORD>(data.size());
    return RegQueryValueExW(entry, name, nullptr, nullptr, data.data(), &size) == ERROR_SUCCESS;
}

}  // namespace

LONG DetectCarrier() {
    if (KeyOpensForReading(HKEY_CURRENT_USER, kSktEntryKey)) return 1;
    if (KeyOpensForReading(HKEY_CURRENT_USER, kKtfEntryKey)) return 2;
    return 0;
}

LPCWSTR CarrierEntryKey(LONG carrier) {
    switch (carrier) {
        case 1: return kSktEntryKey;
        case 2: return kKtfEntryKey;
        default: return nullptr;
    }
}

bool CallInProgress() {
    DWORD calls = 0;
    return ReadRegDword(HKEY_LOCAL_MACHINE, TEXT("System\\State\\Phone"), TEXT("Active Call Count"), calls) && calls != 0;
}

LONG Read3GState() {
    const LPCWSTR entry_key = CarrierEntryKey(AppSettings.carrier);
    if (entry_key == nullptr) return 0;
    HKEY entry = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, entry_key, 0, KEY_READ, &entry) != ERROR_SUCCESS) return 0;
    // The blocked form wins: an entry holding both names reads as blocked.
    LONG allowed = 0;
    if (!PhoneBookValueReadable(entry, kBlockedEntryForm.dev_cfg))
        allowed = PhoneBookValueReadable(entry, kAllowedEntryForm.dev_cfg) ? 1 : 0;
    RegCloseKey(entry);
    return allowed;
}

LONG AlertIntervalTicksFor(LONG alert_interval, LONG current) {
    switch (alert_interval) {
        case 0:  // once only: the single reminder still waits 40 ticks
        case 1: return 40;
        case 2: return 200;
        default: return current;
    }
}

LONG KeylockTimeoutTicksFor(LONG keylock_timeout, LONG current) {
    switch (keylock_timeout) {
        case 0: return 10;
        case 1: return 20;
        case 2: return 60;
        case 3: return 100;
        case 4: return 200;
        default: return current;
    }
}

namespace {

LONG ReadSetting(LPCWSTR name, LONG when_missing) {
    DWORD value = 0;
    if (!ReadRegDword(HKEY_CURRENT_USER, kSettingsKey, name, value)) return when_missing;
    return static_cast<LONG>(value);
}

}  // namespace

void LoadAppSettings() {
    AppSettings.carrier = DetectCarrier();
    AppSettings.data3GAllowed = Read3GState();
    AppSettings.autostartEnabled = FileExists(kStartupShortcut) ? 1 : 0;

    for (const StoredSetting& setting : kStoredSettings)
        (AppSettings.*setting.field) = ReadSetting(setting.name, setting.whenMissing);

    AppSettings.keylockTimeoutTicks = KeylockTimeoutTicksFor(AppSettings.KeylockTimeout, AppSettings.keylockTimeoutTicks);
    AppSettings.alertIntervalTicks = AlertIntervalTicksFor(AppSettings.AlertInterval, AppSettings.alertIntervalTicks);
}
