// The 3G block and the mail-client exception.
//
// Blocking moves the carrier's phone-book entry values "DevCfg" and "Entry" to
// "NoDevCfg" and "NoEntry", names the dialler does not read; allowing moves them back.
// While 3G is blocked on an SKT phone, the carrier's mail client is let through: when
// its window appears, 3G is allowed, the client is restarted so that it connects, and
// once its window is gone 3G is blocked again.
#include "watch/block_3g.h"

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

void PlayProgramSound(LPCWSTR name) {
    sndPlaySound(ProgramSoundPath(name).c_str(), SND_ASYNC);
}

// The names one move leaves (sources) and the names it fills (targets).
struct PhoneBookMove {
    LPCWSTR first_source, second_source, first_target, second_target;
};

PhoneBookMove MoveTo(LONG allow) {
    const PhoneBookForm& from = allow != 0 ? kBlockedEntryForm : kAllowedEntryForm;
    const PhoneBookForm& to = allow != 0 ? kAllowedEntryForm : kBlockedEntryForm;
    return {from.dev_cfg, from.entry, to.dev_cfg, to.entry};
}

// Moves one value whose copy may already be in place: a target holding the same data
// is a copy whose source was never deleted. A target holding other data is left alone,
// with its source: nothing that was not copied is lost.
bool FinishValue(HKEY entry, LPCWSTR source, LPCWSTR target) {
    std::vector<BYTE> data;
    if (!ReadPhoneBookValue(entry, source, data)) return true;
    std::vector<BYTE> copy;
    if (ReadPhoneBookValue(entry, target, copy)) {
        if (copy != data) return true;
    } else if (!WritePhoneBookValue(entry, target, data)) {
        return false;
    }
    return DeletePhoneBookValue(entry, source);
}

// The whole move, with both values read first and every copy written before any source
// goes. A refused write ends it there, with every source still in place, so that
// applying again starts it afresh.
bool MoveEntry(HKEY entry, const PhoneBookMove& move, const std::vector<BYTE>& first) {
    std::vector<BYTE> second;
    const bool second_read = ReadPhoneBookValue(entry, move.second_source, second);
    if (!WritePhoneBookValue(entry, move.first_target, first)) return false;
    if (second_read && !WritePhoneBookValue(entry, move.second_target, second)) return false;
    if (!DeletePhoneBookValue(entry, move.first_source)) return false;
    // A second value that cannot be read stays where it is.
    return !second_read || DeletePhoneBookValue(entry, move.second_source);
}

// Opens the carrier's entry for a move; false when the phone has none.
bool OpenEntry(HKEY& entry) {
    const LPCWSTR entry_key = CarrierEntryKey(AppSettings.carrier);
    return entry_key != nullptr && RegOpenKeyExW(HKEY_CURRENT_USER, entry_key, 0, KEY_ALL_ACCESS, &entry) == ERROR_SUCCESS;
}

// Completes a move that the registry refused part-way: the first value already has the
// requested form (its source gone, or left behind as an identical copy), and what is
// left of the move is made. An entry whose first value is in neither form, or in both
// with different data, is not a move that stopped, and is left as it is.
bool FinishMove(HKEY entry, const PhoneBookMove& move) {
    std::vector<BYTE> moved;
    if (!ReadPhoneBookValue(entry, move.first_target, moved)) return true;
    std::vector<BYTE> left;
    if (ReadPhoneBookValue(entry, move.first_source, left)) {
        if (left != moved) return true;
        if (!DeletePhoneBookValue(entry, move.first_source)) return false;
    }
    return FinishValue(entry, move.second_source, move.second_target);
}

}  // namespace

bool Apply3GState(LONG allow) {
    HKEY entry = nullptr;
    if (!OpenEntry(entry)) return true;
    const PhoneBookMove move = MoveTo(allow);
    std::vector<BYTE> first;
    // Without the first source value the entry already has the requested form, or is
    // only part of the way there.
    const bool stored =
        ReadPhoneBookValue(entry, move.first_source, first) ? MoveEntry(entry, move, first) : FinishMove(entry, move);
    RegCloseKey(entry);
    return stored;
}

void FinishPhoneBookMove(LONG allow) {
    HKEY entry = nullptr;
    if (!OpenEntry(entry)) return;
    FinishMove(entry, MoveTo(allow));
    RegCloseKey(entry);
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
        if (AppSettings.enableTmail3GsvcAlert != 0) PlayProgramSound(k3GAllowedSound);

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
        if (AppSettings.enableTmail3GsvcAlert != 0) PlayProgramSound(k3GBlockedSound);
    }
}
