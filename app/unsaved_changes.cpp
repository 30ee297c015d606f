// The record of changes the device could not store yet, and the stores that fill it.
#include "app/unsaved_changes.h"

#include "watch/block_3g.h"

bool UnsavedChanges::StoreSetting(const SettingWord& field) {
    for (std::size_t index = 0; index < kStoredSettings.size(); ++index)
        if (&(AppSettings.*kStoredSettings[index].field) == &field) return WriteSetting(index);
    return true;
}

bool UnsavedChanges::WriteSetting(std::size_t index) {
    const StoredSetting& setting = kStoredSettings[index];
    const LONG value = AppSettings.*setting.field;
    const bool stored = WriteRegDword(HKEY_CURRENT_USER, kSettingsKey, setting.name, static_cast<DWORD>(value));
    if (!stored) NKDbgPrintfW(TEXT("WriteRegDword(%s, %d) failed: %u\n"), setting.name, value, GetLastError());
    return Record(index, stored);
}

bool UnsavedChanges::StoreStartupShortcut() {
    bool stored = false;
    if (AppSettings.autostartEnabled != 0) {
        const WString target = StartupShortcutTarget(programFolder);
        // The shell refuses to replace a shortcut that exists. One that is there already
        // is what the tick asks for, as a shortcut already gone is for the untick.
        stored = SHCreateShortcut(kStartupShortcut, target.c_str()) != FALSE;
        if (!stored) {
            const DWORD error = GetLastError();
            stored = FileExists(kStartupShortcut);
            SetLastError(error);
        }
        if (!stored) NKDbgPrintfW(TEXT("SHCreateShortcut(%s) failed: %u\n"), kStartupShortcut, GetLastError());
    } else if (DeleteFileW(kStartupShortcut)) {
        stored = true;
    } else {
        const DWORD error = GetLastError();
        stored = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        if (!stored) NKDbgPrintfW(TEXT("DeleteFile(%s) failed: %u\n"), kStartupShortcut, error);
    }
    return Record(kShortcut, stored);
}

bool UnsavedChanges::StorePhoneBookForm() {
    const LONG allow = AppSettings.data3GAllowed;
    const bool stored = Apply3GState(allow);
    if (!stored)
        NKDbgPrintfW(TEXT("Apply3GState(%d) failed on %s: %u\n"), allow, CarrierEntryKey(AppSettings.carrier),
                     GetLastError());
    return Record(kPhoneBook, stored);
}

void UnsavedChanges::StorePending() {
    for (std::size_t index = 0; index < kStoredSettings.size(); ++index)
        if (m_pending.test(index)) WriteSetting(index);
    if (m_pending.test(kShortcut)) StoreStartupShortcut();
    if (m_pending.test(kPhoneBook)) StorePhoneBookForm();
}

bool UnsavedChanges::Record(std::size_t item, bool stored) {
    m_pending.set(item, !stored);
    return stored;
}
