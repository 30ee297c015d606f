// The handset's platform API: everything a program of the phone may call, apart from
// the dialog framework (platform/afxwin.h).
#pragma once

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
