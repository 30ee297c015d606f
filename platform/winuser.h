// Window functions of the handset's platform API: windows, messages, timers, keys and
// message boxes.
//
// Each thread has its own message queue. Top-level windows are also listed in the
// device's window table, so that FindWindowW, EnumWindows and GetWindowThreadProcessId
// see the windows of every process on the device.
#pragma once

#include "platform/wintypes.h"

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

using WNDENUMPROC = BOOL (*)(HWND, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT, DWORD);

// Dialogs and message boxes are of class "#32770"; a null class or title matches any.
HWND FindWindowW(LPCWSTR class_name, LPCWSTR title);
BOOL EnumWindows(WNDENUMPROC proc, LPARAM param);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD process_id);
BOOL SetForegroundWindow(HWND window);  // also accepts the handle with its lowest bit set
HWND GetForegroundWindow();
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL IsWindow(HWND window);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int size);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
HWND GetParent(HWND window);
HWND GetDlgItem(HWND dialog, int id);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// The keyboard focus among the calling thread's windows; SetFocus returns the previous one.
HWND SetFocus(HWND window);
HWND GetFocus();
// Converts a rectangle of the dialog's units into pixels through its font's base units.
BOOL MapDialogRect(HWND dialog, LPRECT rect);
BOOL DestroyWindow(HWND window);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
inline LPCWSTR MAKEINTRESOURCEW(int id) {
    return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(id)));
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void PostQuitMessage(int code);
BOOL GetMessageW(MSG* msg, HWND window, UINT min, UINT max);
LRESULT DispatchMessageW(const MSG* msg);
BOOL TranslateMessage(const MSG* msg);

UINT SetTimer(HWND window, UINT id, UINT period_ms, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT id);

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Injects a key event into the keypad's input path (KEYEVENTF_KEYUP, KEYEVENTF_SILENT).
void keybd_event(BYTE vk, BYTE scan, DWORD flags, std::uintptr_t extra);
