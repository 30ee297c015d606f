// The vibration motor of the handset's platform API.
#pragma once

#include "platform/wintypes.h"

struct VIBRATENOTE;

// Starts the vibration. With no notes, repeating and INFINITE it runs until
// VibrateStop. Returns S_OK (0) on success.
LONG Vibrate(DWORD note_count, const VIBRATENOTE* notes, BOOL repeat, DWORD timeout_ms);
LONG VibrateStop();
