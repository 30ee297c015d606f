// The handset clock: real or virtual time, and the one wait every service uses.
#include "platform/handset/core/clock.h"

#include <atomic>
#include <cassert>
#include <limits>

namespace handset {
namespace {
thread_local int t_participation = 0;
std::atomic<unsigned long long> g_next_token{1};
thread_local unsigned long long t_token = 0;
}  // namespace

unsigned long long thread_token() {
    if (t_token == 0) t_token = g_next_token.fetch_add(1);
    return t_token;
}

struct Clock::Waiter {
    std::condition_variable cv;
    std::span<Waitable* const> objects;
    bool all = false;
    long long deadline = kNoDeadline;
    bool done = false;
    int result = kWaitTimeout;
    bool participant = false;
    unsigned long long token = thread_token();
    unsigned long long seq = 0;  // order in which waits began
    Waiter* next = nullptr;
    Waiter* prev = nullptr;

    // Checks the condition and, when it holds, acquires the objects. Lock held.
    bool try_complete() {
        if (all) {
            if (objects.empty()) return false;
            for (auto* o : objects)
                if (!o->signalled_for(token)) return false;
            for (auto* o : objects) o->acquire_for(token);
            result = 0;
            return true;
        }
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->signalled_for(token)) {
                objects[i]->acquire_for(token);
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

std::mutex& kernel_lock() {
    static std::mutex m;
    return m;
}

void Clock::configure(ClockKind kind, double speed, long long origin_ms) {
    std::lock_guard lock(kernel_lock());
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
    const auto real = std::chrono::steady_clock::now() - start_;
    return static_cast<long long>(std::chrono::duration<double, std::milli>(real).count() * speed_);
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

bool Clock::is_participant() const { return t_participation > 0; }

void Clock::unlink(Waiter* w) {
    if (w->prev) w->prev->next = w->next;
    else waiters_ = w->next;
    if (w->next) w->next->prev = w->prev;
    w->next = w->prev = nullptr;
}

int Clock::wait(std::unique_lock<std::mutex>& lock, std::span<Waitable* const> objects, bool all,
                long long deadline) {
    assert(lock.owns_lock());
    Waiter w;
    w.objects = objects;
    w.all = all;
    w.deadline = deadline;
    if (w.try_complete()) return w.result;
    if (deadline != kNoDeadline && now_ms() >= deadline) return kWaitTimeout;

    w.participant = t_participation > 0;
    w.seq = ++wait_seq_;
    w.next = waiters_;
    if (waiters_) waiters_->prev = &w;
    waiters_ = &w;

    if (kind_ == ClockKind::Virtual) {
        if (w.participant) {
            --running_;
            advance_if_idle();
        }
        w.cv.wait(lock, [&] { return w.done; });
        // Whoever completed the wait counted us as running again and unlinked us.
        return w.result;
    }

    while (!w.done) {
        if (deadline == kNoDeadline) {
            w.cv.wait(lock);
            continue;
        }
        const auto real_deadline =
            start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double, std::milli>(static_cast<double>(deadline) / speed_));
        if (w.cv.wait_until(lock, real_deadline) == std::cv_status::timeout && !w.done &&
            now_ms() >= deadline) {
            unlink(&w);
            return kWaitTimeout;
        }
    }
    return w.result;
}

void Clock::wake_waiters() {
    for (Waiter* w = waiters_; w;) {
        Waiter* next = w->next;
        if (!w->done && w->try_complete()) {
            w->done = true;
            unlink(w);
            if (kind_ == ClockKind::Virtual && w->participant) ++running_;
            w->cv.notify_one();
        }
        w = next;
    }
}

void Clock::advance_if_idle() {
    if (kind_ != ClockKind::Virtual) return;
    // Waiters whose deadlines fall together wake one at a time, the one that began
    // waiting first going first: under the virtual clock the phone then runs the same
    // way every time (a script's `wait 3s` and a 3 s timer never race).
    while (running_ == 0) {
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
        next->done = true;
        next->result = kWaitTimeout;
        unlink(next);
        if (next->participant) ++running_;
        next->cv.notify_one();
    }
}

void Clock::sleep_ms(long long ms) {
    std::unique_lock lock(kernel_lock());
    const long long deadline = now_ms() + (ms < 0 ? 0 : ms);
    wait(lock, {}, false, deadline);
}

}  // namespace handset
