// The phone's keypad, process, foreground, vibration and debug calls on the desktop.
//
// The keypad lock is kept as the phone's state alone: the key-lock key sets bit 2 of
// "Lock" of HKLM "System\State" (a bit mask: 1 the device, 2 the keys, 4 the SIM) and
// the unlock sequence (left soft key, then star) clears it, keeping the other bits; but
// the desktop's keyboard is never locked. A program that locked a
// desktop's keyboard would take the machine from its user, and the phone's unlock
// sequence is one that any program can send; the state is what the program and its
// users read.
#include <cstdarg>
#include <mutex>

#include "platform/win32/power.h"
#include "platform/win32/windows.h"

// This file gives the phone's forms their meaning, so it calls the desktop's own.
#undef keybd_event
#undef OpenProcess
#undef GetModuleFileNameW
#undef SetForegroundWindow

namespace {

constexpr DWORD kKeypadLockBit = 2;

bool write_lock_state(DWORD value) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"System\\State", L"Lock", REG_DWORD, &value, sizeof(value)) ==
           ERROR_SUCCESS;
}

DWORD read_lock_state() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\State", L"Lock", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0;
    return value;
}

bool keypad_locked() { return (read_lock_state() & kKeypadLockBit) != 0; }

// The keypad's lock as the shell keeps it: which key of the unlock sequence came last.
struct Keypad {
    std::mutex mu;
    bool soft_key_down = false;  // the left soft key was the last key pressed while locked
};

Keypad& keypad() {
    static Keypad k;
    return k;
}

// The vibration motor's present pulse, for the length printed when it stops.
struct Motor {
    std::mutex mu;
    bool running = false;
    DWORD started = 0;
};

Motor& motor() {
    static Motor m;
    return m;
}

}  // namespace

void PhoneKeybdEvent(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
    const bool up = (flags & KEYEVENTF_KEYUP) != 0;
    if (!up) NotePhoneKeypadActivity();
    Keypad& k = keypad();
    std::lock_guard lock(k.mu);
    if (vk == VK_KEYLOCK) {
        if (!up && !keypad_locked()) write_lock_state(read_lock_state() | kKeypadLockBit);
        k.soft_key_down = false;
        return;
    }
    if (keypad_locked()) {
        // While locked, keys reach no program; only the unlock sequence counts.
        if (up) return;
        if (vk == VK_TSTAR && k.soft_key_down) write_lock_state(read_lock_state() & ~kKeypadLockBit);
        k.soft_key_down = vk == VK_TSOFT1;
        return;
    }
    keybd_event(vk, scan, flags & ~KEYEVENTF_SILENT, extra);
}

HANDLE PhoneOpenProcess(DWORD access, BOOL inherit, DWORD process_id) {
    return OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, inherit, process_id);
}

DWORD PhoneGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    // A module is an address in this process; a process handle names another process.
    HANDLE process = reinterpret_cast<HANDLE>(module);
    if (module == nullptr || GetProcessId(process) == 0) return GetModuleFileNameW(module, buffer, size);
    DWORD length = size;
    if (!QueryFullProcessImageNameW(process, 0, buffer, &length)) return 0;
    return length;
}

namespace {

// The window a user would call the program's own: top-level, captioned, owned by none.
bool is_main_window(HWND window) {
    return GetWindow(window, GW_OWNER) == nullptr && (GetWindowLongPtrW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
}

// The main window of the process that owns `window`; `window` itself when it is one or
// the process has none. The phone's form names a process's window found by enumeration,
// which on the desktop may be one of its hidden helper windows.
HWND main_window_of(HWND window) {
    if (is_main_window(window)) return window;
    struct Search {
        DWORD pid;
        HWND found;
    } search{0, nullptr};
    GetWindowThreadProcessId(window, &search.pid);
    EnumWindows(
        [](HWND candidate, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(candidate, &pid);
            if (pid != s->pid || !is_main_window(candidate)) return TRUE;
            s->found = candidate;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr ? search.found : window;
}

}  // namespace

BOOL PhoneSetForegroundWindow(HWND window) {
    const auto bits = reinterpret_cast<UINT_PTR>(window);
    HWND phone_form = reinterpret_cast<HWND>(bits & ~UINT_PTR{1});
    // The low bit first: a window manager may accept the odd value as the same window.
    if ((bits & 1) != 0 && IsWindow(phone_form)) {
        // The phone's form: bring another program's window to the front, shown as it
        // was before it was hidden.
        window = main_window_of(phone_form);
        ShowWindow(window, IsIconic(window) || !IsWindowVisible(window) ? SW_RESTORE : SW_SHOW);
    }
    return SetForegroundWindow(window);
}

LONG Vibrate(DWORD, const VIBRATENOTE*, BOOL, DWORD) {
    Motor& m = motor();
    std::lock_guard lock(m.mu);
    if (!m.running) {
        m.running = true;
        m.started = GetTickCount();
    }
    return S_OK;
}

LONG VibrateStop() {
    Motor& m = motor();
    std::lock_guard lock(m.mu);
    if (!m.running) return S_OK;
    m.running = false;
    NKDbgPrintfW(L"vibrate %u ms\n", GetTickCount() - m.started);
    return S_OK;
}

void NKDbgPrintfW(LPCWSTR format, ...) {
    if (format == nullptr) return;
    WCHAR text[1024];
    va_list args;
    va_start(args, format);
    wvsprintfW(text, format, args);
    va_end(args);
    OutputDebugStringW(text);
}
