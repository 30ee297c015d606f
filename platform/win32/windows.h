// The platform API over real Win32: the desktop's own headers, and the calls that only
// the phone has, each given its nearest desktop meaning.
//
// Most of the program's calls are the desktop's own and go straight to it. The rest
// fall in two groups. Calls the desktop lacks (message queues, power notifications, the
// soft-key bar, shortcuts, vibration) keep the phone's declarations (platform/pm.h and
// its neighbours) and are implemented in this folder. Calls the desktop has but means differently (a device
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

// The phone's message queues, power manager, vibration motor and soft-key bar, as the
// phone declares them; see each header.
#include "platform/aygshell.h"
#include "platform/msgqueue.h"
#include "platform/pm.h"
#include "platform/vibrate.h"

// Message queues live in this process; a named queue opened twice is the same queue.
// The power manager writes to a program's queue through a handle of its own.
HANDLE OpenMsgQueue(HANDLE source_process, HANDLE queue, MSGQUEUEOPTIONS* options);

// The phone's kernel debug print: formatted as wsprintfW does, to the debug output.
void NKDbgPrintfW(LPCWSTR format, ...);

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
