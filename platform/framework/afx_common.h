// The dialog framework's platform-independent half (afx_common.cpp) and what each
// platform's half gives it. The classes are declared in platform/afxwin.h; the
// handset's half is platform/handset/window/afx.cpp, the desktop's platform/win32/afx.cpp.
#pragma once

#include "platform/afxwin.h"

namespace framework {

// The entry that handles `message` in `map` or, failing that, its bases in turn; for
// WM_COMMAND, the one for wparam's command id and notification code. Null for none.
const MessageMapEntry* find_handler(const MessageMap* map, UINT message, WPARAM wparam);

// Each platform's half defines these three for AfxWinMain.
// The program's executable file name without its folder and extension.
WString executable_name();
// Dispatches the thread's messages until WM_QUIT; returns the code WM_QUIT carried.
int run_message_loop();
// Runs after ExitInstance: takes down what the ended program left behind.
void program_ended();

}  // namespace framework
