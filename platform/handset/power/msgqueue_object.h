// Message queues behind CreateMsgQueue: the queue itself, shared by every handle that
// opened it, and the handle objects, which are waitable (a read handle is signalled
// while the queue holds a message, a write handle while it has room).
//
// The power manager writes its notifications through write_message(); everything here
// is guarded by the kernel lock, like every other waitable state.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "platform/handset/core/kernel.h"

namespace handset {

struct MessageQueue {
    DWORD flags = 0;
    DWORD max_messages = 0;  // 0: no limit
    DWORD max_message_size = 0;
    std::deque<std::vector<std::uint8_t>> messages;
    // Write handles and the power manager's registrations attached to the queue. A
    // reader of an empty queue without writers learns that none will come.
    int writers = 0;
    // Read handles: a writer to a queue that nobody reads learns it at once.
    int readers = 0;

    bool full() const { return max_messages != 0 && messages.size() >= max_messages; }
};

class MsgQueueObject : public KernelObject {
public:
    // Kernel lock held: a write handle counts among the queue's writers while it lives.
    MsgQueueObject(std::shared_ptr<MessageQueue> queue, bool read) : queue_(std::move(queue)), read_(read) {
        ++(read_ ? queue_->readers : queue_->writers);
    }
    void on_last_close() override;

    bool waitable() const override { return true; }
    bool signalled() const override { return read_ ? !queue_->messages.empty() : !queue_->full(); }

    const std::shared_ptr<MessageQueue>& queue() const { return queue_; }
    bool reads() const { return read_; }

private:
    std::shared_ptr<MessageQueue> queue_;
    bool read_;
};

// Whether a read of `queue` that finds it empty, or a write, fails at once: nobody is
// attached at the other end and the queue was not created to allow that. Kernel lock
// held.
bool queue_broken(const MessageQueue& queue);
bool queue_unread(const MessageQueue& queue);

// Appends one message; kernel lock held, and the caller wakes the waiters. A message
// larger than the queue's limit, or one for a full queue, is dropped: false.
bool write_message(MessageQueue& queue, std::span<const std::uint8_t> message);

}  // namespace handset
