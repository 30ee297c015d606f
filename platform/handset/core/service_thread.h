// The services thread: one handset thread that serves the phone's background services
// (the power manager, the listener of the control socket), each of which would
// otherwise keep a thread of its own that sleeps nearly all its life.
//
// A service says what it waits for: kernel objects, a deadline of handset time and a
// descriptor of the host. The thread waits for all its services' at once and runs the
// one whose wait ended, without the kernel lock. Services run one at a time, on this one
// thread, so a service's run must not block: whatever it starts that takes long takes a
// thread of its own. The thread starts with the first service added and ends with the
// last one removed; it takes part in virtual time as any thread of start_thread does.
#pragma once

#include <span>

#include "platform/handset/core/clock.h"

namespace handset {

class Service {
public:
    struct Waits {
        std::span<Waitable* const> objects;
        long long deadline = kNoDeadline;
        int host_fd = -1;
    };
    // What the service waits for now. Asked on the services thread, with the kernel lock
    // held, before each of its waits; the objects must live until the service is removed.
    // A service that changes its answer sets one of its objects, so that it is asked again.
    virtual Waits waits() = 0;
    // Runs the service for what ended the wait: the index of its object that was
    // signalled (and acquired, as a wait acquires it), kWaitTimeout when its deadline
    // has come, or kWaitHostInput when its descriptor has input. On the services thread,
    // without the kernel lock.
    virtual void run(int woken) = 0;

protected:
    ~Service() = default;
};

// Adds a service, starting the thread with the first.
void add_service(Service& service);
// Removes a service. Once this returns, its run() is neither under way nor called again;
// with the last service the thread has ended too. Never from a service's own run().
void remove_service(Service& service);

}  // namespace handset
