// The power-state watch thread and the automatic key lock.
//
// The watch thread sleeps on a queue of power notifications; each notification restarts
// the idle count and records the current state name. The watch tick counts the idle
// time and presses the key-lock key once the phone has sat in "useridle" for the chosen
// number of ticks.
#include "watch/power_watch.h"

#include <array>
#include <vector>

#include "app/haptics.h"
#include "app/settings.h"

PowerStateName g_strLastPowerState;
std::atomic<LONG> g_nIdleTicks{0};
HANDLE g_hStopEvent = nullptr;
HANDLE g_hPowerThread = nullptr;

namespace {

constexpr BYTE kKeyLockKey = VK_KEYLOCK;     // 133
constexpr BYTE kUnlockFirstKey = VK_TSOFT1;  // 112, left soft key
constexpr BYTE kUnlockSecondKey = VK_TSTAR;  // 119, star
constexpr DWORD kPowerQueueMessageBytes = 536;
constexpr DWORD kPowerNotificationMask = PBT_TRANSITION | PBT_RESUME | PBT_POWERINFOCHANGE;  // 11

// "Lock" of HKLM "System\State": 0 nothing locked, 2 the keypad locked.
bool ReadLockState(DWORD& lock) { return ReadRegDword(HKEY_LOCAL_MACHINE, TEXT("System\\State"), TEXT("Lock"), lock); }

void UnlockKeypad() {
    PressKey(kUnlockFirstKey);
    // The shell wants the two keys about 300 ms apart, with or without the vibration.
    if (AppSettings.EnableVibrateAlertKeylock != 0)
        VibrateFor(100);
    else
        Sleep(100);
    Sleep(200);
    PressKey(kUnlockSecondKey);
}

}  // namespace

WString PowerStateName::get() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void PowerStateName::set(WStringView name) {
    WString copy(name);  // allocate outside the lock
    std::lock_guard lock(mutex_);
    name_.swap(copy);
}

bool PowerStateName::equals(WStringView name) const {
    std::lock_guard lock(mutex_);
    return name_ == name;
}

void ResetPowerWatchState() {
    g_strLastPowerState.set(TEXT(""));
    g_nIdleTicks = 0;
    g_hStopEvent = nullptr;
    g_hPowerThread = nullptr;
}

void PressKey(BYTE vk) {
    keybd_event(vk, 0, KEYEVENTF_SILENT, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
}

void StartPowerWatch() {
    g_hStopEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    if (g_hStopEvent != nullptr) g_hPowerThread = CreateThread(nullptr, 0, PowerWatchThread, nullptr, 0, nullptr);
    OnPowerStateChange();
}

void StopPowerWatch() {
    if (g_hStopEvent != nullptr) SetEvent(g_hStopEvent);
    if (g_hPowerThread != nullptr) {
        WaitForSingleObject(g_hPowerThread, INFINITE);
        CloseHandle(g_hPowerThread);
        g_hPowerThread = nullptr;
    }
    if (g_hStopEvent != nullptr) {
        CloseHandle(g_hStopEvent);
        g_hStopEvent = nullptr;
    }
}

DWORD PowerWatchThread(LPVOID) {
    MSGQUEUEOPTIONS options{};
    options.dwSize = sizeof(options);
    options.dwFlags = MSGQUEUE_NOPRECOMMIT;
    options.dwMaxMessages = 4;
    options.cbMaxMessage = kPowerQueueMessageBytes;
    options.bReadAccess = TRUE;
    HANDLE queue = CreateMsgQueue(nullptr, &options);
    if (queue == nullptr) {
        NKDbgPrintfW(TEXT("CreateMsgQueue failed: %x\n"), GetLastError());
        return 1;
    }
    HANDLE notifications = RequestPowerNotifications(queue, kPowerNotificationMask);
    if (notifications == nullptr) {
        NKDbgPrintfW(TEXT("RequestPowerNotifications failed: %x\n"), GetLastError());
        CloseMsgQueue(queue);
        return 1;
    }

    const std::array<HANDLE, 2> handles{queue, g_hStopEvent};
    while (WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE) ==
           WAIT_OBJECT_0) {
        // The message itself is not needed: each one only says that the state may have
        // changed, and OnPowerStateChange asks for the state as it is now.
        std::vector<BYTE> message(kPowerQueueMessageBytes);
        DWORD bytes = 0;
        DWORD flags = 0;
        while (ReadMsgQueue(queue, message.data(), kPowerQueueMessageBytes, &bytes, 0, &flags))
            OnPowerStateChange();
    }
    StopPowerNotifications(notifications);
    CloseMsgQueue(queue);
    return 0;
}

void OnPowerStateChange() {
    std::array<WCHAR, MAX_PATH> buffer{};
    DWORD flags = 0;
    if (GetSystemPowerState(buffer.data(), static_cast<DWORD>(buffer.size()), &flags) != ERROR_SUCCESS) return;
    buffer.back() = TEXT('\0');
    const WStringView state(buffer.data());

    g_nIdleTicks = 0;
    if (AppSettings.EnablePowerKeyUnlock != 0 && g_strLastPowerState.equals(TEXT("useridle")) && state == TEXT("on")) {
        DWORD lock = 0;
        if (ReadLockState(lock) && lock == 2 && !CallInProgress()) UnlockKeypad();
    }
    g_strLastPowerState.set(state);
}

void CheckAutoKeylock() {
    const LONG ticks = ++g_nIdleTicks;
    if (ticks <= AppSettings.keylockTimeoutTicks) return;
    // Whatever the check finds, the next one waits for the count to pass the limit again.
    g_nIdleTicks = 0;

    if (!g_strLastPowerState.equals(TEXT("useridle"))) return;
    if (AppSettings.EnableAutoKeylock == 0) return;
    DWORD lock = 0;
    if (!ReadLockState(lock) || lock != 0) return;
    if (CallInProgress()) return;

    // "on" is recorded before the key goes out, so the notification the lock itself
    // causes does not look like a wake-up from "useridle" and unlock again.
    g_strLastPowerState.set(TEXT("on"));
    PressKey(kKeyLockKey);
    if (AppSettings.EnableVibrateAlertKeylock != 0) VibrateFor(50);
}
