// The Win32 entry: the desktop starts the program here. The program's resource table is
// part of its image, as the phone's loader would have it; the per-user state values a
// phone always has are made where the desktop lacks them; then the framework takes over.
#include "platform/afxwin.h"
#include "platform/win32/phone_state.h"
#include "res/resources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR command_line, int) {
    resource::set_resources(&quillon_resources());
    CreateMissingPhoneStateValues();
    return AfxWinMain(command_line);
}
