// The terminal phone's stderr capture and ending signals.
#include "platform/frontends/interactive/ending_signals.h"

#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

namespace frontends {

StderrCapture::StderrCapture(std::filesystem::path file) : file_(std::move(file)) {
    saved_ = ::dup(STDERR_FILENO);
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

void StderrCapture::restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
    std::error_code ec;
    if (std::filesystem::file_size(file_, ec) == 0 && !ec) std::filesystem::remove(file_, ec);
    else if (!ec) std::fprintf(stderr, "quillon: messages printed while the phone ran are in %s\n", file_.c_str());
}

EndingSignals::EndingSignals() {
    sigset_t ending, blocked;
    sigemptyset(&ending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, sig);
    blocked = ending;
    sigaddset(&blocked, SIGWINCH);
    pthread_sigmask(SIG_BLOCK, &blocked, &original_);
    waiting_ = original_;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&waiting_, sig);
    sigdelset(&waiting_, SIGWINCH);
    fd_ = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
}

EndingSignals::~EndingSignals() {
    if (fd_ >= 0) ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &original_, nullptr);
}

void EndingSignals::take(const std::function<void(int signo)>& on_signal) {
    signalfd_siginfo info;
    while (fd_ >= 0 && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        on_signal(static_cast<int>(info.ssi_signo));
}

}  // namespace frontends
