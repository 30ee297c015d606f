// The Win32 entry: the desktop starts the program here. The program's resource table is
// part of its image, as the phone's loader would have it, and the framework takes over.
#include "platform/afxwin.h"
#include "res/resources.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR command_line, int) {
    resource::set_resources(&quillon_resources());
    return AfxWinMain(command_line);
}
