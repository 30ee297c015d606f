// Point-to-point message queues of the platform API: CreateMsgQueue, ReadMsgQueue,
// WriteMsgQueue and CloseMsgQueue. A queue lives as long as a handle (or a writer such as the power
// manager's registration) keeps it; named queues are shared by name within this host.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/power/msgqueue_object.h"
#include "platform/handset/registry/paths.h"
#include "platform/msgqueue.h"
#include "platform/winbase.h"

namespace handset {
namespace {

std::mutex g_names_mu;
// Folded name -> queue; entries of queues that have gone are swept at each creation.
std::map<std::u16string, std::weak_ptr<MessageQueue>> g_named;

long long deadline_after(DWORD timeout_ms) {
    if (timeout_ms == INFINITE) return kNoDeadline;
    return clock().now_ms() + timeout_ms;
}

}  // namespace

void MsgQueueObject::on_last_close() {
    std::lock_guard lock(kernel_lock());
    int& count = read_ ? queue_->readers : queue_->writers;
    assert(count > 0);
    --count;
    handset::clock().wake_waiters();
}

bool queue_broken(const MessageQueue& queue) {
    assert(kernel_lock().held());
    return queue.writers == 0 && !(queue.flags & MSGQUEUE_ALLOW_BROKEN);
}

bool queue_unread(const MessageQueue& queue) {
    assert(kernel_lock().held());
    return queue.readers == 0 && !(queue.flags & MSGQUEUE_ALLOW_BROKEN);
}

bool write_message(MessageQueue& queue, std::span<const std::uint8_t> message) {
    assert(kernel_lock().held());
    if (message.size() > queue.max_message_size || queue.full()) return false;
    queue.messages.emplace_back(message.begin(), message.end());
    return true;
}

}  // namespace handset

using namespace handset;

HANDLE CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options) {
    constexpr DWORD known_flags = MSGQUEUE_NOPRECOMMIT | MSGQUEUE_ALLOW_BROKEN;
    if (!options || options->dwSize != sizeof(MSGQUEUEOPTIONS) || options->cbMaxMessage == 0 ||
        (options->dwFlags & ~known_flags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (fault_active(Fault::PowerMsgQueue)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const bool read = options->bReadAccess != FALSE;
    std::shared_ptr<MessageQueue> queue;
    bool existed = false;
    // An empty name is a name too, shared like any other.
    if (name) {
        std::lock_guard lock(g_names_mu);
        std::erase_if(g_named, [](const auto& entry) { return entry.second.expired(); });
        auto& slot = g_named[fold_name(name)];
        queue = slot.lock();
        existed = queue != nullptr;
        if (!queue) {
            queue = std::make_shared<MessageQueue>();
            slot = queue;
        }
    } else {
        queue = std::make_shared<MessageQueue>();
    }
    if (!existed) {
        // Options are the creator's; a second opener of a named queue takes it as it is.
        queue->flags = options->dwFlags;
        queue->max_messages = options->dwMaxMessages;
        queue->max_message_size = options->cbMaxMessage;
    }
    std::shared_ptr<MsgQueueObject> object;
    {
        std::lock_guard lock(kernel_lock());
        object = std::make_shared<MsgQueueObject>(std::move(queue), read);
    }
    HANDLE handle = make_handle(std::move(object));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadMsgQueue(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, DWORD timeout_ms, DWORD* flags) {
    auto object = object_as<MsgQueueObject>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->reads()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!buffer || !read || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const long long deadline = deadline_after(timeout_ms);
    MessageQueue& queue = *object->queue();
    Waitable* const waitables[] = {object.get()};
    std::unique_lock lock(kernel_lock());
    // Another reader of the same queue may take the message between our wake-up and
    // our turn at the lock: wait again until there is one for us or the time is up.
    while (queue.messages.empty()) {
        if (queue_broken(queue)) {
            SetLastError(ERROR_PIPE_NOT_CONNECTED);
            return FALSE;
        }
        if (handset::clock().wait(lock, waitables, false, deadline) == kWaitTimeout) {
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
    }
    // A message longer than the buffer is still read, and gone from the queue: the
    // buffer gets what fits and the caller is told the rest was lost.
    const std::vector<std::uint8_t> message = std::move(queue.messages.front());
    queue.messages.pop_front();
    handset::clock().wake_waiters();  // writers waiting for room
    const std::size_t copied = std::min<std::size_t>(message.size(), size);
    if (copied) std::memcpy(buffer, message.data(), copied);
    *read = static_cast<DWORD>(copied);
    if (flags) *flags = 0;
    if (copied < message.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL WriteMsgQueue(HANDLE handle, LPVOID buffer, DWORD size, DWORD timeout_ms, DWORD flags) {
    auto object = object_as<MsgQueueObject>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->reads()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!buffer || size == 0 || (flags & ~MSGQUEUE_MSGALERT) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MessageQueue& queue = *object->queue();
    if (size > queue.max_message_size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const long long deadline = deadline_after(timeout_ms);
    Waitable* const waitables[] = {object.get()};
    std::unique_lock lock(kernel_lock());
    while (true) {
        if (queue_unread(queue)) {
            SetLastError(ERROR_PIPE_NOT_CONNECTED);
            return FALSE;
        }
        if (!queue.full()) break;
        if (handset::clock().wait(lock, waitables, false, deadline) == kWaitTimeout) {
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
    }
    write_message(queue, {static_cast<const std::uint8_t*>(buffer), size});
    handset::clock().wake_waiters();
    return TRUE;
}

BOOL CloseMsgQueue(HANDLE handle) {
    if (!object_as<MsgQueueObject>(handle) || !close_handle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
