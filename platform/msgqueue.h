// Point-to-point message queues of the handset's platform API. A queue handle is
// waitable: it is signalled while it holds a message.
#pragma once

#include "platform/wintypes.h"

struct MSGQUEUEOPTIONS {
    DWORD dwSize;         // sizeof(MSGQUEUEOPTIONS), 20
    DWORD dwFlags;        // MSGQUEUE_NOPRECOMMIT, MSGQUEUE_ALLOW_BROKEN
    DWORD dwMaxMessages;  // 0: no limit
    DWORD cbMaxMessage;   // largest message in bytes
    BOOL bReadAccess;     // TRUE: the handle reads, FALSE: it writes
};

constexpr DWORD MSGQUEUE_NOPRECOMMIT = 0x1;
constexpr DWORD MSGQUEUE_ALLOW_BROKEN = 0x2;
constexpr DWORD MSGQUEUE_MSGALERT = 0x1;

HANDLE CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options);
BOOL ReadMsgQueue(HANDLE queue, LPVOID buffer, DWORD size, LPDWORD read, DWORD timeout_ms,
                  DWORD* flags);
BOOL CloseMsgQueue(HANDLE queue);
