// The phone's point-to-point message queues on the desktop. A queue is a list of
// messages under a lock, with a manual-reset event that is set exactly while the list
// holds a message; a read handle is that event, so the desktop's waits take it as they
// are. A named queue opened a second time is the same queue.
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/windows.h"

namespace {

struct Queue {
    WString name;
    DWORD max_messages = 0;
    DWORD max_bytes = 0;
    std::mutex mu;
    std::deque<std::vector<BYTE>> messages;  // guarded by mu
    HANDLE readable = nullptr;               // set while messages is not empty
    int handles = 0;                         // guarded by the table's lock
};

// Every open handle maps to its queue. A read handle is the queue's event; a write
// handle is an event of its own that is never set, so that both are real handles.
struct Table {
    std::mutex mu;
    std::map<HANDLE, std::shared_ptr<Queue>> by_handle;
};

Table& table() {
    static Table t;
    return t;
}

std::shared_ptr<Queue> find(HANDLE handle) {
    Table& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.by_handle.find(handle);
    return it == t.by_handle.end() ? nullptr : it->second;
}

}  // namespace

HANDLE CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options) {
    if (options == nullptr || options->dwSize != sizeof(MSGQUEUEOPTIONS) || options->cbMaxMessage == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Table& t = table();
    std::lock_guard lock(t.mu);
    std::shared_ptr<Queue> queue;
    if (name != nullptr) {
        for (const auto& [handle, q] : t.by_handle)
            if (q->name == name) queue = q;
    }
    const bool existed = queue != nullptr;
    if (!queue) {
        queue = std::make_shared<Queue>();
        if (name != nullptr) queue->name = name;
        queue->max_messages = options->dwMaxMessages;
        queue->max_bytes = options->cbMaxMessage;
        queue->readable = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (queue->readable == nullptr) return nullptr;
    }
    HANDLE handle = nullptr;
    if (options->bReadAccess) {
        // One read handle per queue: the event itself, duplicated for the second opener.
        if (existed && !DuplicateHandle(GetCurrentProcess(), queue->readable, GetCurrentProcess(), &handle, 0,
                                        FALSE, DUPLICATE_SAME_ACCESS))
            return nullptr;
        if (!existed) handle = queue->readable;
    } else {
        handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (handle == nullptr) return nullptr;
    }
    ++queue->handles;
    t.by_handle[handle] = queue;
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// Another handle to the queue behind `queue`, with the access `options` asks for.
HANDLE OpenMsgQueue(HANDLE source_process, HANDLE queue, MSGQUEUEOPTIONS* options) {
    if (options == nullptr || source_process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<Queue> target = find(queue);
    if (!target) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HANDLE handle = nullptr;
    if (options->bReadAccess) {
        if (!DuplicateHandle(GetCurrentProcess(), target->readable, GetCurrentProcess(), &handle, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            return nullptr;
    } else {
        handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (handle == nullptr) return nullptr;
    }
    Table& t = table();
    std::lock_guard lock(t.mu);
    ++target->handles;
    t.by_handle[handle] = target;
    return handle;
}

BOOL WriteMsgQueue(HANDLE handle, LPVOID buffer, DWORD size, DWORD timeout_ms, DWORD flags) {
    std::shared_ptr<Queue> queue = find(handle);
    if (!queue) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (buffer == nullptr || size == 0 || size > queue->max_bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::lock_guard lock(queue->mu);
    // A full queue drops the message at once: no writer here waits for a reader.
    if (queue->max_messages != 0 && queue->messages.size() >= queue->max_messages) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    queue->messages.emplace_back(bytes, bytes + size);
    SetEvent(queue->readable);
    return TRUE;
}

BOOL ReadMsgQueue(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, DWORD timeout_ms, DWORD* flags) {
    std::shared_ptr<Queue> queue = find(handle);
    if (!queue) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (buffer == nullptr || read == nullptr || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (;;) {
        {
            std::lock_guard lock(queue->mu);
            if (!queue->messages.empty()) {
                // A message longer than the buffer is read all the same: the buffer
                // gets what fits, and the rest is lost with the message.
                const std::vector<BYTE> message = std::move(queue->messages.front());
                queue->messages.pop_front();
                if (queue->messages.empty()) ResetEvent(queue->readable);
                const std::size_t copied = std::min<std::size_t>(message.size(), size);
                std::copy_n(message.begin(), copied, static_cast<BYTE*>(buffer));
                *read = static_cast<DWORD>(copied);
                if (flags != nullptr) *flags = 0;
                if (copied < message.size()) {
                    SetLastError(ERROR_INSUFFICIENT_BUFFER);
                    return FALSE;
                }
                return TRUE;
            }
        }
        // The event is set by the writer under the lock, so a wake-up finds a message
        // unless another reader took it first; then the wait goes round again.
        if (timeout_ms == 0 || WaitForSingleObject(queue->readable, timeout_ms) != WAIT_OBJECT_0) {
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
    }
}

BOOL CloseMsgQueue(HANDLE handle) {
    Table& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.by_handle.find(handle);
    if (it == t.by_handle.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Queue> queue = it->second;
    t.by_handle.erase(it);
    // The queue's own event is closed with the last handle; other handles are closed now.
    if (handle != queue->readable) CloseHandle(handle);
    if (--queue->handles == 0) CloseHandle(queue->readable);
    return TRUE;
}
