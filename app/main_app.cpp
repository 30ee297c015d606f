// The application object and the two single-instance checks: one by a mutex named
// after the executable's path, one by the mutex "_QUILLON_" and the window title.
#include "app/main_app.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "app/main_dlg.h"
#include "app/settings.h"
#include "res/resources.h"
#include "watch/power_watch.h"

CMainApp theApp;

namespace {

constexpr int kPathCheckTries = 40;
constexpr DWORD kPathCheckPauseMs = 250;

// The platform's foreground request for another process's window: the handle with its
// lowest bit set.
HWND ForegroundForm(HWND window) {
    return reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(window) | 1);
}

WString ExecutablePath() {
    std::array<WCHAR, MAX_PATH> path{};
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return WString(path.data(), std::min<std::size_t>(length, path.size()));
}

struct WindowSearch {
    const WString* exe_path;
    HWND found;
};

// Takes the first top-level window whose process runs the executable at the same path;
// windows whose process cannot be opened are skipped.
BOOL MatchWindowOfExecutable(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(0, FALSE, pid);
    if (process == nullptr) return TRUE;
    std::array<WCHAR, MAX_PATH> path{};
    const DWORD length =
        GetModuleFileNameW(reinterpret_cast<HMODULE>(process), path.data(), static_cast<DWORD>(path.size()));
    CloseHandle(process);
    const WStringView other(path.data(), std::min<std::size_t>(length, path.size()));
    if (length == 0 || other != *search->exe_path) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindWindowOfExecutable(const WString& exe_path) {
    WindowSearch search{&exe_path, nullptr};
    EnumWindows(MatchWindowOfExecutable, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

void InitProcessData() {
    ResetAppSettings();
    ResetPowerWatchState();
}

bool CheckPreviousInstanceByPath() {
    const WString exe_path = ExecutablePath();
    WString mutex_name = exe_path;
    std::replace(mutex_name.begin(), mutex_name.end(), TEXT('\\'), TEXT('/'));

    // The handle stays open for the life of the process: it marks this path as running.
    HANDLE path_mutex = CreateMutexW(nullptr, FALSE, mutex_name.c_str());
    if (path_mutex == nullptr) return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // The first instance may not have made its window yet, and the platform gives no
        // notice when it does: look again a few times, yielding the processor between.
        for (int attempt = 0; attempt < kPathCheckTries; ++attempt) {
            if (HWND window = FindWindowOfExecutable(exe_path)) {
                SetForegroundWindow(ForegroundForm(window));
                return false;
            }
            HANDLE thread = GetCurrentThread();
            const int priority = GetThreadPriority(thread);
            SetThreadPriority(thread, THREAD_PRIORITY_IDLE);
            Sleep(kPathCheckPauseMs);
            SetThreadPriority(thread, priority);
        }
    }
    ReleaseMutex(path_mutex);
    return true;
}

CMainApp::CMainApp() { AfxSetProcessInit(&InitProcessData); }

BOOL CMainApp::InitInstance() {
    if (!CheckPreviousInstanceByPath()) return FALSE;

    HANDLE instance_mutex = CreateMutexW(nullptr, TRUE, TEXT("_QUILLON_"));
    const DWORD error = GetLastError();
    // Kept open and unowned for the life of the process.
    if (instance_mutex != nullptr) ReleaseMutex(instance_mutex);
    if (error == ERROR_ALREADY_EXISTS) {
        if (HWND window = FindWindowW(nullptr, kMainWindowTitle)) SetForegroundWindow(ForegroundForm(window));
        return FALSE;
    }

    SHInitExtraControls();
    SetRegistryKey(TEXT("QUILLON [QUILLON]"));
    {
        CMainDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    // The main window has been destroyed: the process ends without a message loop.
    return FALSE;
}
