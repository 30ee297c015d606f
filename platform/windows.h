// The platform API: everything a program of the phone may call, apart from the dialog
// framework (platform/afxwin.h). The emulated handset declares it below; a Win32 build
// takes the desktop's own headers with the phone-only calls added (platform/win32/).
#pragma once

#if defined(_WIN32)
#include "platform/win32/windows.h"
#else

#include "platform/wintypes.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "platform/winuser.h"
#include "platform/mmsystem.h"
#include "platform/vibrate.h"
#include "platform/msgqueue.h"
#include "platform/pm.h"
#include "platform/shellapi.h"
#include "platform/aygshell.h"
#endif
