// The platform API over real Win32: the desktop's own headers, and the calls that only
// the phone has, each given its nearest desktop meaning.
//
// Most of the program's calls are the desktop's own and go straight to it. The rest
// fall in two groups. Calls the desktop lacks (message queues, power notifications, the
// soft-key bar, shortcuts, vibration) are declared here with the phone's signatures and
// implemented in this folder. Calls the desktop has but means differently (a device
// path such as "\Windows\StartUp", a process handle passed as a module, the foreground
// handle with its low bit set, the phone's silent and key-lock keys) are routed through
// a Phone* function of the same signature that translates the phone's form and then
// calls the desktop's own; the README's table lists every one.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <string>
#include <string_view>

using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

// Keys of the phone's keypad. The soft keys, star and pound arrive as F1, F2, F8 and F9,
// as on the phone; the key-lock key has no desktop meaning of its own.
constexpr BYTE VK_TSOFT1 = VK_F1;
constexpr BYTE VK_TSOFT2 = VK_F2;
constexpr BYTE VK_TSTAR = VK_F8;
constexpr BYTE VK_TPOUND = VK_F9;
constexpr BYTE VK_KEYLOCK = 0x85;
// A key event that makes no click. The desktop gives this bit another meaning
// (KEYEVENTF_UNICODE), so PhoneKeybdEvent takes it off before the event goes out.
constexpr DWORD KEYEVENTF_SILENT = 0x0004;

// Injects a key event as the phone's keypad would: the key-lock key and the unlock
// sequence (left soft key, then star) lock and unlock the keypad state ("Lock" of
// HKLM "System\State"); other keys go to the desktop's input, without the silent bit.
void PhoneKeybdEvent(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);
#define keybd_event PhoneKeybdEvent

// Point-to-point message queues. A read handle is waitable: it is signalled while the
// queue holds a message. Queues live in this process; a named queue opened twice is
// the same queue.
struct MSGQUEUEOPTIONS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMaxMessages;  // 0: no limit
    DWORD cbMaxMessage;
    BOOL bReadAccess;
};
constexpr DWORD MSGQUEUE_NOPRECOMMIT = 0x1;
constexpr DWORD MSGQUEUE_ALLOW_BROKEN = 0x2;
constexpr DWORD MSGQUEUE_MSGALERT = 0x1;

HANDLE CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options);
BOOL ReadMsgQueue(HANDLE queue, LPVOID buffer, DWORD size, LPDWORD read, DWORD timeout_ms, DWORD* flags);
HANDLE OpenMsgQueue(HANDLE source_process, HANDLE queue, MSGQUEUEOPTIONS* options);
BOOL WriteMsgQueue(HANDLE queue, LPVOID buffer, DWORD size, DWORD timeout_ms, DWORD flags);
BOOL CloseMsgQueue(HANDLE queue);

// The phone's power manager, from the desktop's: "on", and "useridle" once the user has
// given no input for the idle time (GetLastInputInfo); suspend and resume come from
// WM_POWERBROADCAST.
constexpr DWORD PBT_TRANSITION = 0x1;
constexpr DWORD PBT_RESUME = 0x2;
constexpr DWORD PBT_POWERINFOCHANGE = 0x8;
constexpr DWORD POWER_NOTIFY_ALL = 0xFFFFFFFF;
constexpr DWORD POWER_STATE_ON = 0x00010000;
constexpr DWORD POWER_STATE_SUSPEND = 0x00200000;
constexpr DWORD POWER_STATE_USERIDLE = 0x01000000;

struct POWER_BROADCAST {
    DWORD Message;
    DWORD Flags;
    DWORD Length;
    WCHAR SystemPowerState[1];
};

HANDLE RequestPowerNotifications(HANDLE queue, DWORD mask);
DWORD StopPowerNotifications(HANDLE notifications);
DWORD GetSystemPowerState(LPWSTR name, DWORD length, LPDWORD flags);

// The vibration motor: on the desktop, a line of debug output per start and stop.
struct VIBRATENOTE;
LONG Vibrate(DWORD note_count, const VIBRATENOTE* notes, BOOL repeat, DWORD timeout_ms);
LONG VibrateStop();

// The phone's kernel debug print: formatted as wsprintfW does, to the debug output.
void NKDbgPrintfW(LPCWSTR format, ...);

// The soft-key bar. On the desktop the menu named by nToolBarId becomes the window's
// menu bar: a plain item acts as a soft key, a popup opens as the phone's menu would.
constexpr DWORD SHCMBF_EMPTYBAR = 0x0001;
constexpr DWORD SHCMBF_HIDDEN = 0x0002;
constexpr DWORD SHCMBF_HIDESIPBUTTON = 0x0004;
constexpr DWORD SHCMBF_COLORBK = 0x0008;
constexpr DWORD SHCMBF_HMENU = 0x0010;

struct SHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;  // out: the window that carries the bar (the parent, on the desktop)
    COLORREF clrBk;
};

BOOL SHCreateMenuBar(SHMENUBARINFO* info);
BOOL SHInitExtraControls();
// A shortcut at `path` to `target` (a path, optionally in double quotes): a real .lnk
// through IShellLinkW.
BOOL SHCreateShortcut(LPCWSTR path, LPCWSTR target);

// Device paths. "\Windows\StartUp\..." is the user's Startup folder, "\Windows\..." the
// Windows folder and "\Program Files\Quillon\..." the executable's own folder; any other
// path is the desktop's own.
WString PhoneDevicePath(LPCWSTR path);

HANDLE PhoneCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                        DWORD disposition, DWORD attributes, HANDLE template_file);
BOOL PhoneDeleteFileW(LPCWSTR path);
BOOL PhoneShellExecuteEx(SHELLEXECUTEINFOW* info);
DWORD PhoneGetFileAttributesW(LPCWSTR path);
#undef CreateFile
#undef DeleteFile
#undef ShellExecuteEx
#undef GetFileAttributes
#define CreateFileW PhoneCreateFileW
#define DeleteFileW PhoneDeleteFileW
#define GetFileAttributesW PhoneGetFileAttributesW
#define ShellExecuteEx PhoneShellExecuteEx

// Processes. The phone opens a process with no access rights and reads its executable
// path with GetModuleFileNameW on the process handle; the desktop needs the right to
// query it and QueryFullProcessImageNameW.
HANDLE PhoneOpenProcess(DWORD access, BOOL inherit, DWORD process_id);
DWORD PhoneGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
#define OpenProcess PhoneOpenProcess
#define GetModuleFileNameW PhoneGetModuleFileNameW

// The phone brings another process's window to the front when given its handle with
// the lowest bit set; on the desktop the window is restored and made the foreground.
BOOL PhoneSetForegroundWindow(HWND window);
#define SetForegroundWindow PhoneSetForegroundWindow
