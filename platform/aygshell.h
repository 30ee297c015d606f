// The shell's soft-key bar and control initialisation.
#pragma once

// Phone-only calls, declared once for both platforms: on Win32 the desktop's headers
// give the types (platform/win32/windows.h includes this after them).
#if !defined(_WIN32)
#include "platform/wintypes.h"
#endif

constexpr DWORD SHCMBF_EMPTYBAR = 0x0001;
constexpr DWORD SHCMBF_HIDDEN = 0x0002;
constexpr DWORD SHCMBF_HIDESIPBUTTON = 0x0004;
constexpr DWORD SHCMBF_COLORBK = 0x0008;
constexpr DWORD SHCMBF_HMENU = 0x0010;  // nToolBarId names a menu resource

struct SHMENUBARINFO {
    DWORD cbSize;  // sizeof(SHMENUBARINFO); 36 on the 32-bit phone
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;  // out: the soft-key bar
    DWORD clrBk;
};

BOOL SHCreateMenuBar(SHMENUBARINFO* info);
BOOL SHInitExtraControls();
