// The timed vibration every feedback and reminder pattern is built from.
#include "app/haptics.h"

void VibrateFor(DWORD ms) {
    Vibrate(0, nullptr, TRUE, INFINITE);
    Sleep(ms);
    VibrateStop();
}
