// A mutex that code running under it can assert it holds.
//
// Several functions of the handset must be called with a lock held ("kernel lock
// held"); a comment cannot catch the caller that forgot. In debug builds the mutex
// records its owner, so such a function can assert(mu.held()); release builds record
// nothing and held() always answers true, so the check costs nothing there.
#pragma once

#include <cassert>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifndef NDEBUG
#include <atomic>
#endif

namespace handset {

class CheckedMutex {
public:
    void lock() {
        mu_.lock();
        note_owner();
    }
    bool try_lock() {
        if (!mu_.try_lock()) return false;
        note_owner();
        return true;
    }
    void unlock() {
        forget_owner();
        mu_.unlock();
        if (on_release_) on_release_();
    }

    // A function of the calling thread's to run whenever it lets the mutex go: after
    // unlock(), and before a condition wait releases the mutex (still holding it then).
    // Set once, before the mutex is shared.
    void set_on_release(void (*on_release)()) { on_release_ = on_release; }

    // Whether the calling thread holds the mutex (debug builds; true in release builds,
    // so call it only inside assert()).
    bool held() const {
#ifndef NDEBUG
        return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
#else
        return true;
#endif
    }

    // std::condition_variable waits on a std::mutex: these release the mutex of `lock`
    // while waiting, as the condition variable's own wait() and wait_until() do.
    static void wait(std::condition_variable& cv, std::unique_lock<CheckedMutex>& lock) {
        Released released(lock);
        cv.wait(released.native);
    }
    template <class TimePoint>
    static std::cv_status wait_until(std::condition_variable& cv, std::unique_lock<CheckedMutex>& lock,
                                     const TimePoint& deadline) {
        Released released(lock);
        return cv.wait_until(released.native, deadline);
    }

private:
    // The std::mutex under `lock`, lent to a condition variable for one wait; the owner
    // is forgotten for the wait and noted again once the wait has the mutex back.
    struct Released {
        explicit Released(std::unique_lock<CheckedMutex>& lock) : mutex(*lock.mutex()), native(mutex.mu_, std::adopt_lock) {
            assert(lock.owns_lock());
            if (mutex.on_release_) mutex.on_release_();
            mutex.forget_owner();
        }
        ~Released() {
            native.release();
            mutex.note_owner();
        }
        CheckedMutex& mutex;
        std::unique_lock<std::mutex> native;
    };

    void note_owner() {
#ifndef NDEBUG
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
#endif
    }
    void forget_owner() {
#ifndef NDEBUG
        owner_.store(std::thread::id(), std::memory_order_relaxed);
#endif
    }

    std::mutex mu_;
    void (*on_release_)() = nullptr;
#ifndef NDEBUG
    std::atomic<std::thread::id> owner_{};
#endif
};

}  // namespace handset
