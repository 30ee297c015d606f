// Inside the Win32 layer: what the power manager hears from the phone's keypad.
#pragma once

// A key of the phone's keypad was pressed: the power manager wakes to "on" at its next
// look, as the phone's does at any key, and the quiet time starts again.
void NotePhoneKeypadActivity();
