// The handset clock: real or virtual time, and the one wait every service uses.
#include "platform/handset/core/clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <type_traits>
#include <vector>

namespace handset {
namespace {
thread_local int t_participation = 0;
std::atomic<unsigned long long> g_next_token{1};
thread_local unsigned long long t_token = 0;
thread_local bool* t_held_flag = nullptr;
thread_local int t_loop_waits = 0;

// The wakes this thread owes to the waiters it released under the kernel lock, delivered
// once it lets the lock go. Woken while the lock was still held, a waiter would only
// wake to wait for the lock: a second trip through the host's scheduler, often to
// another processor, for every hand-over between threads. The list is empty whenever
// the thread does not hold the lock; it has no destructor, so that the unlocks of a
// thread's exit (its other thread-locals' destructors) still find it. A wake that does
// not fit is delivered at once, under the lock, which is only slower.
// What a blocked waiter sleeps on: a condition variable, or, for a wait that also
// watches host descriptors, an eventfd that ppoll() watches beside them.
struct Sleeper {
    std::condition_variable cv;
    int event_fd = -1;

    Sleeper() = default;
    explicit Sleeper(int fd) : event_fd(fd) {}
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
    ~Sleeper() {
        if (event_fd >= 0) ::close(event_fd);
    }
    void notify() {
        if (event_fd < 0) {
            cv.notify_one();
            return;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(event_fd, &one, sizeof one);
    }
};

struct OwedWakes {
    using Owed = std::shared_ptr<Sleeper>;
    static constexpr std::size_t kMax = 8;
    alignas(Owed) unsigned char slots[kMax][sizeof(Owed)];
    std::size_t count;

    Owed* at(std::size_t i) { return std::launder(reinterpret_cast<Owed*>(slots[i])); }
    void add(const Owed& sleeper) {
        if (count == kMax) {
            sleeper->notify();
            return;
        }
        new (slots[count]) Owed(sleeper);
        ++count;
    }
    void deliver() {
        for (std::size_t i = 0; i < count; ++i) {
            (*at(i))->notify();
            at(i)->~Owed();
        }
        count = 0;
    }
};
static_assert(std::is_trivially_destructible_v<OwedWakes>);
thread_local OwedWakes t_owed_wakes{};

// The sleeper of this thread's waits on host descriptors, made at its first such wait
// and kept: an eventfd and its closing at every wait cost more than the wait's own
// calls. A wake that comes after its wait has ended leaves it readable, and the next
// wait then wakes once for nothing.
thread_local std::shared_ptr<Sleeper> t_host_sleeper;

void deliver_owed_wakes() {
    if (t_owed_wakes.count != 0) t_owed_wakes.deliver();
}

// A thread about to sleep lets the lock go for a moment when it owes wakes, so that they
// come after the unlock here and not while its own wait still holds the lock. True
// when it did: what the lock guards may have changed meanwhile.
bool pass_owed_wakes(std::unique_lock<CheckedMutex>& lock) {
    if (t_owed_wakes.count == 0) return false;
    lock.unlock();
    lock.lock();
    return true;
}

}  // namespace

void set_held_flag(bool* flag) { t_held_flag = flag; }

LoopWait::LoopWait() { ++t_loop_waits; }
LoopWait::~LoopWait() { --t_loop_waits; }

unsigned long long thread_token() {
    if (t_token == 0) t_token = g_next_token.fetch_add(1);
    return t_token;
}

struct Clock::Waiter {
    // Made only when the waiter blocks: most waits of the virtual clock are completed
    // by the waiting thread itself (advance_if_idle), and a condition variable's
    // making and unmaking were a good part of such a wait. Shared with the wakes owed
    // to it, which may be delivered after the wait has ended. Lock held for all three.
    std::shared_ptr<Sleeper> sleeper;
    std::condition_variable& cv() {
        if (!sleeper) sleeper = std::make_shared<Sleeper>();
        return sleeper->cv;
    }
    int event_fd() {
        if (!t_host_sleeper) {
            const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (fd < 0) throw std::system_error(errno, std::generic_category(), "a wait on host descriptors");
            t_host_sleeper = std::make_shared<Sleeper>(fd);
        }
        sleeper = t_host_sleeper;
        return sleeper->event_fd;
    }
    // The waker's thread delivers the wake when it lets the kernel lock go; the waiter
    // checks `done` under the lock before it sleeps, so no wake is lost meanwhile.
    void wake() {
        if (sleeper) t_owed_wakes.add(sleeper);
    }
    std::span<Waitable* const> objects;
    bool all = false;
    long long deadline = kNoDeadline;
    bool done = false;
    int result = kWaitTimeout;
    bool participant = false;
    unsigned long long token = thread_token();
    unsigned long long seq = 0;  // order in which waits began
    bool* held = nullptr;        // the thread's held flag, raised while blocked here
    Waiter* next = nullptr;
    Waiter* prev = nullptr;

    // Checks the condition and, when it holds, acquires the objects; `at_rest` lets
    // objects that end a wait at rest end it too. Lock held.
    bool try_complete(bool at_rest) {
        assert(kernel_lock().held());
        if (all) {
            if (objects.empty()) return false;
            for (auto* o : objects)
                if (!o->signalled_for(token)) return false;
            bool abandoned = false;
            for (auto* o : objects) abandoned = o->acquire_for(token) || abandoned;
            result = abandoned ? kWaitAbandoned : 0;
            return true;
        }
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->signalled_for(token)) {
                const bool abandoned = objects[i]->acquire_for(token);
                result = static_cast<int>(i) + (abandoned ? kWaitAbandoned : 0);
                return true;
            }
        }
        return at_rest && rests();
    }

    // An object that ends the wait at rest does so now; sets `result`. Lock held.
    bool rests() {
        assert(kernel_lock().held());
        for (std::size_t i = 0; !all && i < objects.size(); ++i) {
            if (objects[i]->signalled_at_rest()) {
                result = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }
};

Clock& clock() {
    static Clock c;
    return c;
}

CheckedMutex& kernel_lock() {
    struct KernelLock : CheckedMutex {
        KernelLock() { set_on_release(deliver_owed_wakes); }
    };
    static KernelLock m;
    return m;
}

void Clock::configure(ClockKind kind, double speed, long long origin_ms) {
    std::lock_guard lock(kernel_lock());
    std::lock_guard real_lock(real_mu_);
    kind_ = kind;
    speed_ = speed > 0 ? speed : 1.0;
    virtual_now_ = origin_ms;
    start_ = std::chrono::steady_clock::now() -
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                 std::chrono::duration<double, std::milli>(static_cast<double>(origin_ms) / speed_));
}

long long Clock::now_ms() const {
    if (kind_ == ClockKind::Virtual) {
        // virtual_now_ only changes under the kernel lock; a relaxed read of an aligned
        // 64-bit value is what callers outside the lock get.
        return __atomic_load_n(&virtual_now_, __ATOMIC_RELAXED);
    }
    std::lock_guard real_lock(real_mu_);
    const auto real = std::chrono::steady_clock::now() - start_;
    return static_cast<long long>(std::chrono::duration<double, std::milli>(real).count() * speed_);
}

double Clock::speed() const {
    std::lock_guard real_lock(real_mu_);
    return speed_;
}

void Clock::set_speed(double speed) {
    if (!(speed > 0)) return;
    std::lock_guard lock(kernel_lock());
    const long long now = now_ms();
    {
        std::lock_guard real_lock(real_mu_);
        speed_ = speed;
        start_ = std::chrono::steady_clock::now() -
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double, std::milli>(static_cast<double>(now) / speed_));
    }
    // Each timed waiter works out its host deadline anew when it wakes.
    for (Waiter* w = waiters_; w; w = w->next) w->wake();
}

void Clock::join() {
    std::lock_guard lock(kernel_lock());
    ++t_participation;
    if (t_participation == 1) ++running_;
}

void Clock::leave() {
    std::lock_guard lock(kernel_lock());
    assert(t_participation > 0);
    --t_participation;
    if (t_participation == 0) {
        --running_;
        advance_if_idle();
    }
}

void Clock::reserve() {
    std::lock_guard lock(kernel_lock());
    ++running_;
}

void Clock::adopt() {
    std::lock_guard lock(kernel_lock());
    assert(t_participation == 0);
    t_participation = 1;  // counted as running by reserve()
}

// A waiter stays in the list only while its wait lasts: whoever completes the wait
// unlinks it, and a wait that ends otherwise unlinks itself before it returns. Kept out
// of line: inlined into wait(), it showed gcc a local's address stored in a member on
// paths where the unlink is another thread's, and gcc warned of a dangling pointer.
[[gnu::noinline]] void Clock::link(Waiter* w) {
    w->next = waiters_;
    if (waiters_) waiters_->prev = w;
    waiters_ = w;
}

// Every release of a waiter goes through here: its thread counts as able to take its
// input from this moment, not from when it is next scheduled, so that what a script
// sees does not depend on the host's scheduling.
void Clock::unlink(Waiter* w) {
    if (w->held) *w->held = false;
    if (w->prev) w->prev->next = w->next;
    else waiters_ = w->next;
    if (w->next) w->next->prev = w->prev;
    w->next = w->prev = nullptr;
}

int Clock::wait(std::unique_lock<CheckedMutex>& lock, std::span<Waitable* const> objects, bool all,
                long long deadline, std::span<const int> host_fds) {
    assert(lock.owns_lock());
    Waiter w;
    w.objects = objects;
    w.all = all;
    w.deadline = deadline;
    if (w.try_complete(kind_ == ClockKind::Real)) return w.result;
    if (deadline != kNoDeadline && now_ms() >= deadline) return kWaitTimeout;

    w.participant = t_participation > 0;
    w.seq = ++wait_seq_;
    if (t_loop_waits == 0 && t_held_flag && deadline == kNoDeadline) {
        w.held = t_held_flag;
        *w.held = true;
        wake_waiters();  // whoever waits for this thread's input stops waiting
    }
    link(&w);

    if (kind_ == ClockKind::Virtual && w.participant) {
        --running_;
        advance_if_idle();
    }
    if (!host_fds.empty()) return sleep_on_host(lock, w, host_fds);
    if (kind_ == ClockKind::Virtual) {
        while (!w.done)
            if (!pass_owed_wakes(lock)) CheckedMutex::wait(w.cv(), lock);
        // Whoever completed the wait counted us as running again and unlinked us.
        return w.result;
    }

    while (!w.done) {
        if (pass_owed_wakes(lock)) continue;
        if (deadline == kNoDeadline) {
            CheckedMutex::wait(w.cv(), lock);
            continue;
        }
        if (CheckedMutex::wait_until(w.cv(), lock, host_time(deadline)) == std::cv_status::timeout && !w.done &&
            now_ms() >= deadline) {
            unlink(&w);
            return kWaitTimeout;
        }
    }
    return w.result;
}

std::chrono::steady_clock::time_point Clock::host_time(long long deadline) const {
    // start_ and speed_ change only under the kernel lock, which the caller holds.
    return start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double, std::milli>(static_cast<double>(deadline) / speed_));
}

// The rest of a wait that also watches host descriptors: it sleeps in ppoll() on them and
// on the eventfd its wakes write to. Input on a descriptor, or an error, ends the wait
// from this side, as a deadline of the real clock does.
int Clock::sleep_on_host(std::unique_lock<CheckedMutex>& lock, Waiter& w, std::span<const int> host_fds) {
    std::vector<pollfd> fds{{w.event_fd(), POLLIN, 0}};
    for (const int fd : host_fds) fds.push_back({fd, POLLIN, 0});
    const nfds_t count = fds.size();
    // Leaves the wait by this thread's own doing; it runs again from here.
    auto end = [&](int result) {
        unlink(&w);
        if (kind_ == ClockKind::Virtual && w.participant) ++running_;
        return result;
    };
    while (!w.done) {
        if (pass_owed_wakes(lock)) continue;
        timespec timeout{};
        const bool timed = kind_ == ClockKind::Real && w.deadline != kNoDeadline;
        if (timed) {
            const auto left = std::max(host_time(w.deadline) - std::chrono::steady_clock::now(),
                                       std::chrono::steady_clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        }
        lock.unlock();
        const int ready = ::ppoll(fds.data(), count, timed ? &timeout : nullptr, nullptr);
        const int error = errno;
        if (ready > 0 && fds[0].revents) {
            std::uint64_t wakes;
            [[maybe_unused]] ssize_t n = ::read(fds[0].fd, &wakes, sizeof wakes);
        }
        lock.lock();
        if (w.done) break;
        if (ready < 0 && error != EINTR) {
            end(kWaitTimeout);
            throw std::system_error(error, std::generic_category(), "a wait on host descriptors");
        }
        for (nfds_t i = 1; ready > 0 && i < count; ++i)
            if (fds[i].revents) return end(kWaitHostInput + static_cast<int>(i - 1));
        if (timed && now_ms() >= w.deadline) return end(kWaitTimeout);
    }
    return w.result;
}

void Clock::release(Waiter* w) {
    assert(kernel_lock().held());
    w->done = true;
    unlink(w);
    if (kind_ == ClockKind::Virtual && w->participant) ++running_;
    w->wake();
}

void Clock::wake_waiters() {
    assert(kernel_lock().held());
    const bool at_rest = kind_ == ClockKind::Real;
    for (Waiter* w = waiters_; w;) {
        Waiter* next = w->next;
        if (!w->done && w->try_complete(at_rest)) release(w);
        w = next;
    }
}

void Clock::advance_if_idle() {
    assert(kernel_lock().held());
    if (kind_ != ClockKind::Virtual) return;
    // Waiters whose deadlines fall together wake one at a time, the one that began
    // waiting first going first: under the virtual clock the phone then runs the same
    // way every time (a script's `wait 3s` and a 3 s timer never race).
    while (running_ == awaiting_input_) {
        // At rest: the waits that end at rest end now, before time moves on.
        Waiter* resting = nullptr;
        for (Waiter* w = waiters_; w; w = w->next)
            if (!resting || w->seq < resting->seq)
                if (w->rests()) resting = w;
        if (resting) {
            release(resting);
            continue;
        }
        // A participant waiting for input from outside holds time still.
        if (running_ != 0) return;
        Waiter* next = nullptr;
        for (Waiter* w = waiters_; w; w = w->next) {
            if (w->deadline == kNoDeadline) continue;
            if (!next || w->deadline < next->deadline || (w->deadline == next->deadline && w->seq < next->seq))
                next = w;
        }
        if (!next) return;  // nothing can wake by time
        if (next->deadline > virtual_now_) {
            __atomic_store_n(&virtual_now_, next->deadline, __ATOMIC_RELAXED);
            ++jumps_;
        }
        next->result = kWaitTimeout;
        release(next);
    }
}

Clock::AwaitingInput::AwaitingInput() {
    assert(t_participation > 0);
    std::lock_guard lock(kernel_lock());
    Clock& c = clock();
    ++c.awaiting_input_;
    c.advance_if_idle();
}

Clock::AwaitingInput::~AwaitingInput() {
    std::lock_guard lock(kernel_lock());
    --clock().awaiting_input_;
}

void Clock::wait_for_rest() {
    struct Rest : Waitable {
        bool signalled() const override { return false; }
        bool signalled_at_rest() const override { return true; }
    } rest;
    if (kind_ != ClockKind::Virtual) return;
    std::unique_lock lock(kernel_lock());
    Waitable* objects[] = {&rest};
    wait(lock, objects, false, kNoDeadline);
}

void Clock::sleep_ms(long long ms) {
    std::unique_lock lock(kernel_lock());
    const long long deadline = now_ms() + (ms < 0 ? 0 : ms);
    wait(lock, {}, false, deadline);
}

}  // namespace handset
