// Kernel objects, the handle table and the threads of the emulated handset.
//
// Every HANDLE a program holds names a KernelObject: an event, a thread, a process,
// a mutex, a message queue, a file or a power-notification request. Services of other
// folders derive their own objects from KernelObject and register them with
// make_handle(). Waitable objects answer signalled() under the kernel lock (see
// clock.h); whoever changes their state calls clock().wake_waiters() under that lock.
//
// Every thread runs for one process, which owns the handles the thread makes; threads
// of start_thread run for their starter's. Process ids are unique on the device: the
// host's OS process id shifted left by 8, plus a small index for the programs the host
// emulates (0 is the host's own program; process.h hands out the others).
#pragma once

#include <cassert>
#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/handset/core/clock.h"
#include "platform/wintypes.h"

namespace handset {

class KernelObject : public Waitable {
public:
    bool signalled() const override { return false; }
    virtual bool waitable() const { return false; }
    // Called when the last handle to the object is closed (kernel lock NOT held).
    virtual void on_last_close() {}
};

// Adds `object` to the handle table and returns a new handle to it.
HANDLE make_handle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null (the handle was closed or never existed).
std::shared_ptr<KernelObject> object_of(HANDLE handle);
template <class T>
std::shared_ptr<T> object_as(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(object_of(handle));
}
// Removes a handle; false when it was not open.
bool close_handle(HANDLE handle);
// Closes every handle that process `pid` opened, as the platform does when a
// process ends, however it ends.
void release_process_handles(DWORD pid);

// Gives up every mutex the thread `token` owns, as the platform does when a thread ends
// without releasing them: the next thread to take each one is told it was abandoned.
// Kernel lock held.
void abandon_mutexes_of(unsigned long long token);

// An event (manual or auto reset).
class EventObject : public KernelObject {
public:
    explicit EventObject(bool manual, bool initial) : manual_(manual), set_(initial) {}
    bool waitable() const override { return true; }
    bool signalled() const override { return set_; }
    void acquire() override {
        if (!manual_) set_ = false;
    }
    // Kernel lock held.
    void set() {
        assert(kernel_lock().held());
        set_ = true;
    }
    void reset() {
        assert(kernel_lock().held());
        set_ = false;
    }

private:
    bool manual_;
    bool set_;
};

// Something that runs and ends with an exit code: threads and processes.
class RunnableObject : public KernelObject {
public:
    bool waitable() const override { return true; }
    bool signalled() const override { return ended_; }
    // Kernel lock held.
    void finish(DWORD code) {
        assert(kernel_lock().held());
        ended_ = true;
        exit_code_ = code;
    }
    bool ended() const { return ended_; }
    DWORD exit_code() const { return ended_ ? exit_code_ : STILL_ACTIVE; }

private:
    bool ended_ = false;
    DWORD exit_code_ = STILL_ACTIVE;
};

class ThreadObject : public RunnableObject {
public:
    DWORD id = 0;
    int priority = THREAD_PRIORITY_NORMAL;
};

// A program running on the device: the Quillon instance this host runs, or a device
// program emulated inside the host (the carrier's mail client).
class ProcessObject : public RunnableObject {
public:
    DWORD pid = 0;
    std::u16string exe_path;  // device path of the program
};

// The process of the calling thread (the host's own program by default).
std::shared_ptr<ProcessObject> current_process();
// Makes the calling thread (and the threads it starts) belong to `process`.
void set_current_process(std::shared_ptr<ProcessObject> process);
// The host's own program process (pid = os pid << 8). Created on first use.
std::shared_ptr<ProcessObject> host_process();

// This host's OS process id, as getpid() gives it but without a system call (which
// costs about a microsecond on a virtual machine, on paths that run every watch tick);
// a forked child gets its own.
int self_os_pid();

// The calling thread's object (every thread that called into the kernel has one).
std::shared_ptr<ThreadObject> current_thread();

// Starts a participating handset thread running `body`; its result becomes the exit
// code. The returned object is signalled when the thread has ended.
std::shared_ptr<ThreadObject> start_thread(std::function<DWORD()> body);

// Waits (in real time, at most `timeout`) until every thread of start_thread is gone,
// its thread-locals destroyed too. The host calls it before it exits: the threads are
// detached, and one still on its way out must not meet static objects being destroyed.
// False when some thread is still there.
bool wait_for_thread_exits(std::chrono::milliseconds timeout);

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

// Adds a service, starting the thread with the first. Never from a service's own run().
void add_service(Service& service);
// Removes a service. Once this returns, its run() is neither under way nor called again;
// with the last service the thread has ended too. Never from a service's own run().
void remove_service(Service& service);

}  // namespace handset
