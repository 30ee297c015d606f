// Short vibrations of the handset's default pattern, timed on the calling thread.
#pragma once

#include "platform/windows.h"

// Starts the default vibration, blocks the calling thread for `ms` and stops it.
void VibrateFor(DWORD ms);
