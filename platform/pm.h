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

// One power notification as it arrives in a queue. For PBT_TRANSITION, SystemPowerState
// holds Length bytes: the state name with its terminator (UTF-16); for
// PBT_POWERINFOCHANGE a POWER_BROADCAST_POWER_INFO. A message is never shorter than
// the structure.
struct POWER_BROADCAST {
    DWORD Message;
    DWORD Flags;
    DWORD Length;
    WCHAR SystemPowerState[1];
};

// The battery as PBT_POWERINFOCHANGE reports it. Life times are in seconds,
// BATTERY_LIFE_UNKNOWN when not known; a status or percent of 255 is unknown.
struct POWER_BROADCAST_POWER_INFO {
    DWORD dwNumLevels;
    DWORD dwBatteryLifeTime;
    DWORD dwBatteryFullLifeTime;
    DWORD dwBackupBatteryLifeTime;
    DWORD dwBackupBatteryFullLifeTime;
    BYTE bACLineStatus;  // AC_LINE_OFFLINE 0, AC_LINE_ONLINE 1
    BYTE bBatteryFlag;   // BATTERY_FLAG_HIGH 1, LOW 2, CRITICAL 4, CHARGING 8, NO_BATTERY 128
    BYTE bBatteryLifePercent;
    BYTE bBackupBatteryFlag;
    BYTE bBackupBatteryLifePercent;
};

// The desktop's winbase.h has these, as macros, for its own battery status.
#if !defined(_WIN32)
constexpr DWORD BATTERY_LIFE_UNKNOWN = 0xFFFFFFFF;
constexpr BYTE AC_LINE_OFFLINE = 0;
constexpr BYTE AC_LINE_ONLINE = 1;
constexpr BYTE AC_LINE_BACKUP_POWER = 2;
constexpr BYTE AC_LINE_UNKNOWN = 0xFF;
constexpr BYTE BATTERY_FLAG_HIGH = 0x01;
constexpr BYTE BATTERY_FLAG_LOW = 0x02;
constexpr BYTE BATTERY_FLAG_CRITICAL = 0x04;
constexpr BYTE BATTERY_FLAG_CHARGING = 0x08;
constexpr BYTE BATTERY_FLAG_NO_BATTERY = 0x80;
constexpr BYTE BATTERY_FLAG_UNKNOWN = 0xFF;
constexpr BYTE BATTERY_PERCENTAGE_UNKNOWN = 0xFF;
#endif

constexpr DWORD POWER_STATE_ON = 0x00010000;
constexpr DWORD POWER_STATE_OFF = 0x00020000;
constexpr DWORD POWER_STATE_CRITICAL = 0x00040000;
constexpr DWORD POWER_STATE_BOOT = 0x00080000;
constexpr DWORD POWER_STATE_IDLE = 0x00100000;
constexpr DWORD POWER_STATE_SUSPEND = 0x00200000;
constexpr DWORD POWER_STATE_UNATTENDED = 0x00400000;
constexpr DWORD POWER_STATE_RESET = 0x00800000;
constexpr DWORD POWER_STATE_USERIDLE = 0x01000000;
constexpr DWORD POWER_STATE_BACKLIGHTON = 0x02000000;
constexpr DWORD POWER_STATE_PASSWORD = 0x10000000;

HANDLE RequestPowerNotifications(HANDLE queue, DWORD mask);
DWORD StopPowerNotifications(HANDLE notifications);
// Copies the current system power-state name (at most `length` characters with the
// terminator); returns ERROR_SUCCESS or an error code.
DWORD GetSystemPowerState(LPWSTR name, DWORD length, LPDWORD flags);
