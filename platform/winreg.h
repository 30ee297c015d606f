// Registry functions of the handset's platform API.
//
// Keys live below the roots HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE. Key and value
// names are case-insensitive and case-preserving. Functions return ERROR_SUCCESS or a
// platform error code; they do not touch the thread's last error.
#pragma once

#include "platform/wintypes.h"

LONG RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR cls, DWORD options,
                     REGSAM sam, void* security, PHKEY result, LPDWORD disposition);
LONG RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_size);
LONG RegSetValueExW(HKEY key, LPCWSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD data_size);
LONG RegDeleteValueW(HKEY key, LPCWSTR value_name);
LONG RegDeleteKeyW(HKEY key, LPCWSTR sub_key);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_len, LPDWORD reserved,
                   LPWSTR cls, LPDWORD cls_len, void* last_write);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_len, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD data_size);
LONG RegCloseKey(HKEY key);
