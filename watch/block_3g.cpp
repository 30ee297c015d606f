// The 3G block and the mail-client exception.
//
// Blocking moves the carrier's phone-book entry values "DevCfg" and "Entry" to
// "NoDevCfg" and "NoEntry", names the dialler does not read; allowing moves them back.
// While 3G is blocked on an SKT phone, the carrier's mail client is let through: when
// its window appears, 3G is allowed, the client is restarted so that it connects, and
// once its window is gone 3G is blocked again.
#include "watch/block_3g.h"

#include <array>
#include <vector>

#include "app/main_dlg.h"
#include "app/settings.h"

namespace {

constexpr DWORD kPhoneBookValueBytes = 2048;

// The data of one phone-book value, or nothing when it is absent or does not fit.
bool ReadPhoneBookValue(HKEY entry, LPCWSTR name, std::vector<BYTE>& data) {
    data.assign(kPhoneBookValueBytes, 0);
    DWORD size = kPhoneBookValueBytes;
    if (RegQueryValueExW(entry, name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    return true;
}

// On failure the platform's error code is left as the last error.
bool WritePhoneBookValue(HKEY entry, LPCWSTR name, const std::vector<BYTE>& data) {
    const LONG rc = RegSetValueExW(entry, name, 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
    return rc == ERROR_SUCCESS;
}

bool DeletePhoneBookValue(HKEY entry, LPCWSTR name) {
    const LONG rc = RegDeleteValueW(entry, name);
    if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
    return rc == ERROR_SUCCESS;
}

void PlayProgramSound(LPCWSTR format) {
    std::array<WCHAR, 1024> path{};
    wsprintfW(path.data(), format, programFolder.c_str());
    sndPlaySound(path.data(), SND_ASYNC);
}

}  // namespace

bool Apply3GState(LONG allow) {
    const LPCWSTR entry_key = CarrierEntryKey(AppSettings.carrier);
    if (entry_key == nullptr) return true;
    HKEY entry = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, entry_key, 0, KEY_ALL_ACCESS, &entry) != ERROR_SUCCESS) return true;

    const LPCWSTR first_source = allow != 0 ? TEXT("NoDevCfg") : TEXT("DevCfg");
    const LPCWSTR second_source = allow != 0 ? TEXT("NoEntry") : TEXT("Entry");
    const LPCWSTR first_target = allow != 0 ? TEXT("DevCfg") : TEXT("NoDevCfg");
    const LPCWSTR second_target = allow != 0 ? TEXT("Entry") : TEXT("NoEntry");

    bool stored = true;
    std::vector<BYTE> first;
    std::vector<BYTE> second;
    // Without the first source value the entry already has the requested form.
    if (ReadPhoneBookValue(entry, first_source, first)) {
        const bool second_read = ReadPhoneBookValue(entry, second_source, second);
        // A source value goes only once its copy is safely written; a second value that
        // cannot be read stays where it is.
        const bool first_moved = WritePhoneBookValue(entry, first_target, first);
        const bool second_moved = second_read && WritePhoneBookValue(entry, second_target, second);
        stored = first_moved && (second_moved || !second_read);
        if (first_moved) stored = DeletePhoneBookValue(entry, first_source) && stored;
        if (second_moved) stored = DeletePhoneBookValue(entry, second_source) && stored;
    }
    RegCloseKey(entry);
    return stored;
}

void CMainDlg::CheckTmailPassThrough() {
    if (AppSettings.carrier != 1 || AppSettings.data3GAllowed != 0 || AppSettings.enableTmail3Gsvc == 0) return;

    HWND mail = FindWindowW(nullptr, TEXT("e-mail"));
    if (mail != nullptr && m_bTmailPassThrough == 0) {
        // The client only connects when it starts, so it is closed and started again
        // with 3G let through; the watch rests until the user has finished with it.
        KillTimer(WATCH_TIMER_ID);
        m_bTmailPassThrough = 1;
        Apply3GState(1);
        ::SendMessageW(mail, WM_CLOSE, 0, 0);
        Sleep(500);
        if (AppSettings.enableTmail3GsvcAlert != 0) PlayProgramSound(TEXT("%s\\Sound\\enable3Gsvc.wav"));

        SHELLEXECUTEINFO launch{};
        launch.cbSize = sizeof(launch);
        launch.fMask = SEE_MASK_NOCLOSEPROCESS;
        launch.lpFile = TEXT("e mail.exe");
        launch.lpDirectory = TEXT("\\WINDOWS");
        launch.nShow = 0;
        // Blocking on the process handle ends when the client has ended, and at once
        // when none was started.
        if (ShellExecuteEx(&launch) && launch.hProcess != nullptr) {
            WaitForSingleObject(launch.hProcess, INFINITE);
            CloseHandle(launch.hProcess);
        }
        SetTimer(WATCH_TIMER_ID, WATCH_TIMER_PERIOD_MS, nullptr);
    } else if (mail == nullptr && m_bTmailPassThrough != 0) {
        m_bTmailPassThrough = 0;
        Apply3GState(0);
        if (AppSettings.enableTmail3GsvcAlert != 0) PlayProgramSound(TEXT("%s\\Sound\\disable3Gsvc.wav"));
    }
}
