// The vibration motor of the handset's platform API.
#pragma once

// Phone-only calls, declared once for both platforms: on Win32 the desktop's headers
// give the types (platform/win32/windows.h includes this after them).
#if !defined(_WIN32)
#include "platform/wintypes.h"
#endif

struct VIBRATENOTE;

// Starts the vibration. With no notes, repeating and INFINITE it runs until
// VibrateStop. Returns S_OK (0) on success.
LONG Vibrate(DWORD note_count, const VIBRATENOTE* notes, BOOL repeat, DWORD timeout_ms);
LONG VibrateStop();
