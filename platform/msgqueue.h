// Point-to-point message queues of the handset's platform API. A queue handle is
// waitable: it is signalled while it holds a message.
#pragma once

// Phone-only calls, declared once for both platforms: on Win32 the desktop's headers
// give the types (platform/win32/windows.h includes this after them).
#if !defined(_WIN32)
#include "platform/wintypes.h"
#endif

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
// Appends one message of `size` bytes, waiting up to `timeout_ms` for room in a full
// queue. Fails with ERROR_INSUFFICIENT_BUFFER when the message is larger than the
// queue's cbMaxMessage, and with ERROR_PIPE_NOT_CONNECTED when nobody reads the queue
// (unless it was made with MSGQUEUE_ALLOW_BROKEN).
BOOL WriteMsgQueue(HANDLE queue, LPVOID buffer, DWORD size, DWORD timeout_ms, DWORD flags);
BOOL CloseMsgQueue(HANDLE queue);
