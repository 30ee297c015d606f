// Shell functions of the handset's platform API: program launch and shortcuts.
#pragma once

#include "platform/wintypes.h"

constexpr ULONG SEE_MASK_NOCLOSEPROCESS = 0x40;
constexpr ULONG SEE_MASK_FLAG_NO_UI = 0x400;

struct SHELLEXECUTEINFO {
    DWORD cbSize;  // sizeof(SHELLEXECUTEINFO); 60 on the 32-bit phone
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    LPVOID lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
};

BOOL ShellExecuteEx(SHELLEXECUTEINFO* info);
// Writes a shortcut file at `path` whose target is `target`.
BOOL SHCreateShortcut(LPCWSTR path, LPCWSTR target);
