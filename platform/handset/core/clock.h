// The handset clock and the scheduler that every wait of the phone goes through.
//
// Two clocks exist. The real clock follows the host's monotonic time, optionally
// scaled by a speed factor. The virtual clock moves only when every participating
// thread is blocked in a handset wait; it then jumps to the earliest deadline among
// the waiters and wakes them. A thread takes part when it is a program thread
// (CreateThread, the program's main thread, the emulated device programs) or a
// script runner; threads of the front ends that only feed input do not.
//
// All waitable state of the kernel (events, queues, thread and process handles)
// is guarded by one lock, kernel_lock(). A wait names the objects it waits for and
// an absolute deadline in handset milliseconds. Whoever changes an object's state
// calls wake_waiters() under the lock; a waiter whose condition holds is marked
// runnable at that moment, so the virtual clock never jumps past a thread that has
// been woken but not yet scheduled. Its thread is woken only once the releasing thread
// lets the lock go: woken before, it would wake only to wait for the lock.
#pragma once

#include <chrono>
#include <mutex>
#include <span>

#include "platform/handset/core/checked_mutex.h"

namespace handset {

enum class ClockKind { Real, Virtual };

constexpr long long kNoDeadline = -1;

// Anything a thread can wait for. All members are called with the kernel lock held.
class Waitable {
public:
    virtual ~Waitable() = default;
    virtual bool signalled() const = 0;
    // Called once when a wait is satisfied by this object (an auto-reset event resets).
    virtual void acquire() {}
    // The same questions for a given waiting thread (see thread_token()); objects
    // with an owner, such as mutexes, answer differently for their owner.
    virtual bool signalled_for(unsigned long long token) const { return signalled(); }
    // True when the object came to the waiter abandoned (a mutex whose owner ended).
    virtual bool acquire_for(unsigned long long token) {
        acquire();
        return false;
    }
    // Also ends a wait once the phone is at rest: under the virtual clock when every
    // participant is blocked, before time moves on (so that it ends at the same point
    // every run); under the real clock as soon as it holds.
    virtual bool signalled_at_rest() const { return false; }
};

// A number that names the calling thread for the whole process's life.
unsigned long long thread_token();

// Result of wait(): the index of the signalled object, or one of these. An object that
// came abandoned adds kWaitAbandoned to its index, as the platform's WAIT_ABANDONED_0.
constexpr int kWaitTimeout = -1;
constexpr int kWaitAbandoned = 0x80;
// A host descriptor that the wait also watches has input: kWaitHostInput plus its index.
constexpr int kWaitHostInput = 0x100;

class Clock {
public:
    // Chooses the clock and the handset time it starts from (a child process of the
    // emulator continues its parent's time); call before any participating thread starts.
    void configure(ClockKind kind, double speed = 1.0, long long origin_ms = 0);
    ClockKind kind() const { return kind_; }
    double speed() const;
    // Makes the real clock run `speed` times as fast from this moment on: handset time
    // goes on from where it is, and the waits under way meet their deadlines at the new
    // pace. The virtual clock has no pace; there it only changes what speed() answers.
    void set_speed(double speed);

    // Handset milliseconds since the emulator started.
    long long now_ms() const;

    // Blocks the calling thread until one of `objects` is signalled (all of them when
    // `all`), or until handset time reaches `deadline` (kNoDeadline: never). Must be
    // called with `lock` holding kernel_lock(). Returns the index of the object that
    // ended the wait (0 for wait-all), plus kWaitAbandoned when it came abandoned, or
    // kWaitTimeout.
    //
    // The wait can also watch descriptors of the host (`host_fds`): one that has input
    // (or an error, or has been closed) ends it with kWaitHostInput plus its index. Such
    // input comes from outside the phone, whenever it comes: under the virtual clock a
    // thread blocked here counts as blocked, and time may move on meanwhile.
    int wait(std::unique_lock<CheckedMutex>& lock, std::span<Waitable* const> objects, bool all,
             long long deadline, std::span<const int> host_fds = {});

    // Re-examines every blocked waiter after a state change. Kernel lock held.
    void wake_waiters();

    // Sleeps until handset time reaches now + ms (takes the kernel lock itself).
    void sleep_ms(long long ms);
    // Under the virtual clock, waits until the phone is at rest: every other participant
    // blocked, at the present moment (time does not move). Returns at once under the
    // real clock, where no such moment is defined. Takes the kernel lock itself.
    void wait_for_rest();

    // Marks the calling thread as taking part in virtual time (see above). Balanced
    // calls; a participant that ends must leave.
    void join();
    void leave();
    // For a thread that the calling thread is about to start: counts it as running
    // from now on, so that virtual time cannot jump before it has begun. The new
    // thread then calls adopt() first thing, and leave() when it ends.
    void reserve();
    void adopt();

    // Number of times virtual time has jumped; for tests and benchmarks.
    long long jumps() const { return jumps_; }

    // While one lives, the calling participant waits for something from outside the
    // phone (the next line of a script on stdin): it still holds virtual time where it
    // is, but no longer keeps the phone from being at rest, so the waits that end at
    // rest (input for a held thread, from another thread) can end meanwhile.
    class AwaitingInput {
    public:
        AwaitingInput();
        ~AwaitingInput();
        AwaitingInput(const AwaitingInput&) = delete;
        AwaitingInput& operator=(const AwaitingInput&) = delete;
    };

private:
    struct Waiter;
    int sleep_on_host(std::unique_lock<CheckedMutex>& lock, Waiter& w, std::span<const int> host_fds);
    std::chrono::steady_clock::time_point host_time(long long deadline) const;  // kernel lock held
    void advance_if_idle();  // kernel lock held
    void release(Waiter* w);  // kernel lock held
    void link(Waiter* w);
    void unlink(Waiter* w);

    ClockKind kind_ = ClockKind::Virtual;
    // speed_ and start_ map host time to handset time. They change under both the kernel
    // lock and real_mu_, so that now_ms() can read them without the kernel lock.
    mutable std::mutex real_mu_;
    double speed_ = 1.0;
    long long virtual_now_ = 0;
    long long jumps_ = 0;
    unsigned long long wait_seq_ = 0;
    int running_ = 0;  // participants not blocked in a wait
    int awaiting_input_ = 0;  // of those, the ones waiting for input from outside
    Waiter* waiters_ = nullptr;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

Clock& clock();
CheckedMutex& kernel_lock();

// Input for a thread waits for the thread only while the thread can take it: while it
// runs, while it waits in its message loop, or while it waits for a moment of handset
// time (a Sleep, a synchronous sound), which comes by itself. A thread that owns a
// message queue hands the clock its queue's "held" flag; the clock raises the flag
// while the thread is blocked outside its message loop with no deadline (on a process
// handle, an event) and wakes the waiters then, so that whoever waits for that input
// stops waiting: it may never come back on its own. The flag changes under the kernel
// lock and drops the moment the wait is released. Null withdraws it (the queue is
// going away).
void set_held_flag(bool* flag);

// Marks the waits made in its scope, on this thread, as waits of the message loop: the
// thread takes its input there (or answers messages sent to it), so it is not held.
class LoopWait {
public:
    LoopWait();
    ~LoopWait();
    LoopWait(const LoopWait&) = delete;
    LoopWait& operator=(const LoopWait&) = delete;
};

// RAII participation for a thread that the emulator runs (script runners, device programs).
class Participation {
public:
    Participation() { clock().join(); }
    ~Participation() { clock().leave(); }
    Participation(const Participation&) = delete;
    Participation& operator=(const Participation&) = delete;
};

}  // namespace handset
