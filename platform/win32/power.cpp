// The phone's power manager on the desktop. It holds the power-state name ("on",
// "useridle", "suspend") and broadcasts each change to the message queues registered
// for it, as the phone's does. Its own thread keeps a hidden top-level window: the
// desktop sends that window WM_POWERBROADCAST at suspend and resume, and a one-second
// timer compares the user's idle time (GetLastInputInfo) with the idle timeout, so that
// "useridle" comes after the same quiet time the phone waits for. A key of the phone's
// own keypad (PhoneKeybdEvent) wakes it as the phone's keys do, though the desktop never
// sees it as input. Each change goes to the debug output as "power: NAME".
#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/win32/power.h"
#include "platform/win32/windows.h"

namespace {

constexpr DWORD kDefaultIdleSeconds = 30;
constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdleCheckMs = 1000;

// The quiet time before "useridle": the phone's own setting, "ACUserIdle" seconds under
// the power manager's timeouts, when it is there; else the phone's default.
DWORD idle_timeout_ms() {
    DWORD seconds = 0;
    DWORD size = sizeof(seconds);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Power\\Timeouts", L"ACUserIdle",
                     RRF_RT_REG_DWORD, nullptr, &seconds, &size) != ERROR_SUCCESS ||
        seconds == 0)
        seconds = kDefaultIdleSeconds;
    return seconds * 1000;
}

class PowerManager {
public:
    static PowerManager& get() {
        static PowerManager manager;
        return manager;
    }

    HANDLE subscribe(HANDLE queue, DWORD mask) {
        MSGQUEUEOPTIONS options{};
        options.dwSize = sizeof(options);
        options.bReadAccess = FALSE;
        HANDLE writer = OpenMsgQueue(GetCurrentProcess(), queue, &options);
        if (writer == nullptr) return nullptr;
        std::lock_guard lock(mu_);
        subscribers_[writer] = mask;
        return writer;
    }

    bool unsubscribe(HANDLE writer) {
        {
            std::lock_guard lock(mu_);
            if (subscribers_.erase(writer) == 0) return false;
        }
        CloseMsgQueue(writer);
        return true;
    }

    void note_keypad() { keypad_pressed_ = true; }

    WString state(DWORD& flags) {
        std::lock_guard lock(mu_);
        flags = flags_;
        return state_;
    }

private:
    PowerManager() {
        quiet_since_ = GetTickCount();
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, &PowerManager::thread_main, ready, 0, nullptr);
        if (thread != nullptr) {
            WaitForSingleObject(ready, INFINITE);
            CloseHandle(thread);
        }
        CloseHandle(ready);
    }

    static DWORD WINAPI thread_main(LPVOID ready) {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = &PowerManager::window_proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"QuillonPowerManager";
        RegisterClassW(&window_class);
        // A top-level window, never shown: only top-level windows hear WM_POWERBROADCAST.
        HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      window_class.hInstance, nullptr);
        if (window != nullptr) SetTimer(window, kIdleTimer, kIdleCheckMs, nullptr);
        SetEvent(static_cast<HANDLE>(ready));
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        return 0;
    }

    // The window's creation messages come while the manager is still being made, so
    // only the timer and the broadcasts, which come later, look the manager up.
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_TIMER && wparam == kIdleTimer) {
            get().check_idle();
            return 0;
        }
        if (message == WM_POWERBROADCAST) {
            PowerManager& self = get();
            if (wparam == PBT_APMSUSPEND) self.change(L"suspend", POWER_STATE_SUSPEND, 0);
            if (wparam == PBT_APMRESUMEAUTOMATIC || wparam == PBT_APMRESUMESUSPEND) {
                self.change(L"on", POWER_STATE_ON, PBT_RESUME);
            }
            if (wparam == PBT_APMPOWERSTATUSCHANGE) self.broadcast_info();
            return TRUE;
        }
        return DefWindowProcW(window, message, wparam, lparam);
    }

    void check_idle() {
        LASTINPUTINFO input{};
        input.cbSize = sizeof(input);
        if (!GetLastInputInfo(&input)) return;
        // Input since the quiet time began wakes the phone; none for the timeout sends
        // it to "useridle".
        DWORD flags = 0;
        const WString now = state(flags);
        const bool keypad = keypad_pressed_.exchange(false);
        if (input.dwTime != last_input_ || keypad) {
            last_input_ = input.dwTime;
            quiet_since_ = keypad ? GetTickCount() : input.dwTime;
            if (now != L"on") change(L"on", POWER_STATE_ON, 0);
            return;
        }
        if (now == L"on" && GetTickCount() - quiet_since_ >= idle_timeout_ms())
            change(L"useridle", POWER_STATE_USERIDLE, 0);
    }

    // Records the new state and tells every queue whose mask covers the change.
    void change(const WCHAR* name, DWORD flags, DWORD extra_message) {
        std::vector<std::byte> message = transition(name, flags);
        NKDbgPrintfW(L"power: %s\n", name);
        std::lock_guard lock(mu_);
        state_ = name;
        flags_ = flags;
        for (const auto& [writer, mask] : subscribers_) {
            if (extra_message != 0 && (mask & extra_message) != 0) {
                POWER_BROADCAST resume{extra_message, flags, 0, {0}};
                WriteMsgQueue(writer, &resume, offsetof(POWER_BROADCAST, SystemPowerState), 0, 0);
            }
            if ((mask & PBT_TRANSITION) != 0)
                WriteMsgQueue(writer, message.data(), static_cast<DWORD>(message.size()), 0, 0);
        }
    }

    void broadcast_info() {
        std::lock_guard lock(mu_);
        POWER_BROADCAST info{PBT_POWERINFOCHANGE, flags_, 0, {0}};
        for (const auto& [writer, mask] : subscribers_)
            if ((mask & PBT_POWERINFOCHANGE) != 0)
                WriteMsgQueue(writer, &info, offsetof(POWER_BROADCAST, SystemPowerState), 0, 0);
    }

    static std::vector<std::byte> transition(const WCHAR* name, DWORD flags) {
        // Length counts the name with its terminator, as on the phone; the vector's
        // zeros give the terminator.
        const WStringView text(name);
        const DWORD length = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
        std::vector<std::byte> bytes(offsetof(POWER_BROADCAST, SystemPowerState) + length);
        POWER_BROADCAST head{PBT_TRANSITION, flags, length, {0}};
        std::memcpy(bytes.data(), &head, offsetof(POWER_BROADCAST, SystemPowerState));
        std::memcpy(bytes.data() + offsetof(POWER_BROADCAST, SystemPowerState), text.data(), text.size() * sizeof(WCHAR));
        return bytes;
    }

    std::mutex mu_;
    WString state_ = L"on";
    DWORD flags_ = POWER_STATE_ON;
    std::map<HANDLE, DWORD> subscribers_;  // write handle of each registered queue, its mask
    std::atomic<bool> keypad_pressed_{false};
    // Read and written by the manager's thread only.
    DWORD last_input_ = 0;
    DWORD quiet_since_ = 0;
};

}  // namespace

void NotePhoneKeypadActivity() { PowerManager::get().note_keypad(); }

HANDLE RequestPowerNotifications(HANDLE queue, DWORD mask) {
    if (queue == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return PowerManager::get().subscribe(queue, mask);
}

DWORD StopPowerNotifications(HANDLE notifications) {
    return PowerManager::get().unsubscribe(notifications) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD GetSystemPowerState(LPWSTR name, DWORD length, LPDWORD flags) {
    DWORD state_flags = 0;
    const WString state = PowerManager::get().state(state_flags);
    if (flags != nullptr) *flags = state_flags;
    if (name == nullptr) return ERROR_SUCCESS;
    if (length <= state.size()) return ERROR_INSUFFICIENT_BUFFER;
    std::copy(state.begin(), state.end(), name);
    name[state.size()] = L'\0';
    return ERROR_SUCCESS;
}
