// The power manager of the handset's platform API.
#pragma once

// Phone-only calls, declared once for both platforms: on Win32 the desktop's headers
// give the types (platform/win32/windows.h includes this after them).
#if !defined(_WIN32)
#include "platform/wintypes.h"
#endif

constexpr DWORD PBT_TRANSITION = 0x1;
constexpr DWORD PBT_RESUME = 0x2;
constexpr DWORD PBT_POWERSTATUSCHANGE = 0x4;
constexpr DWORD PBT_POWERINFOCHANGE = 0x8;
constexpr DWORD POWER_NOTIFY_ALL = 0xFFFFFFFF;

// One power notification as it arrives in a queue; SystemPowerState holds
// Length bytes of the state name (UTF-16, no terminator) for PBT_TRANSITION.
struct POWER_BROADCAST {
    DWORD Message;
    DWORD Flags;
    DWORD Length;
    WCHAR SystemPowerState[1];
};

constexpr DWORD POWER_STATE_ON = 0x00010000;
constexpr DWORD POWER_STATE_SUSPEND = 0x00200000;
constexpr DWORD POWER_STATE_USERIDLE = 0x01000000;

HANDLE RequestPowerNotifications(HANDLE queue, DWORD mask);
DWORD StopPowerNotifications(HANDLE notifications);
// Copies the current system power-state name (at most `length` characters with the
// terminator); returns ERROR_SUCCESS or an error code.
DWORD GetSystemPowerState(LPWSTR name, DWORD length, LPDWORD flags);
