// The terminal phone's hold on its process while the screen is up: stderr set aside in a
// file, and the signals that end the phone read where the UI loop waits.
#pragma once

#include <signal.h>

#include <filesystem>
#include <functional>

namespace frontends {

// Whatever libraries print to stderr (the audio library among them) must not draw over
// the phone: while a capture lives, stderr goes to `file`. Restoring puts it back; a
// file left empty is removed, otherwise the restored stderr names it.
class StderrCapture {
public:
    explicit StderrCapture(std::filesystem::path file);
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Idempotent; the leave-at-once path calls it before its last words.
    void restore();

private:
    std::filesystem::path file_;
    int saved_ = -1;
};

// SIGINT, SIGTERM and SIGHUP end the phone. While this lives they are blocked in the
// creating thread and in every thread started after it, and read from a signalfd that
// the UI loop waits on beside the keyboard: so they reach it even while the keyboard is
// always ready, as a dead terminal is. SIGWINCH belongs to ncurses: it comes in only
// while the UI thread waits with wait_mask(). The destructor puts the mask back.
class EndingSignals {
public:
    EndingSignals();
    ~EndingSignals();
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    int fd() const { return fd_; }
    // The mask to wait with (ppoll): the ending signals stay blocked, SIGWINCH comes in.
    const sigset_t* wait_mask() const { return &waiting_; }
    // Calls `on_signal` for each ending signal that has come, in order.
    void take(const std::function<void(int signo)>& on_signal);

private:
    sigset_t original_;
    sigset_t waiting_;
    int fd_ = -1;
};

}  // namespace frontends
