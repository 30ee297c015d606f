// The monkey's child phones (see monkey_process.h).
#include "platform/cli/monkey/monkey_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/cli/monkey/monkey_files.h"

using namespace handset;

extern char** environ;

namespace cli::monkey {
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

// One slot a worker, read by the signal handler.
std::array<std::atomic<pid_t>, kMaxJobs> g_running_groups{};

void end_running_groups(int signal_number) {
    for (auto& slot : g_running_groups) {
        const pid_t group = slot.load();
        if (group > 0) ::kill(-group, SIGKILL);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

}  // namespace

std::atomic<pid_t>& running_group_of(int slot) { return g_running_groups[static_cast<std::size_t>(slot)]; }

InterruptGuard::InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = &end_running_groups;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptGuard::~InterruptGuard() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
}

RunEnd run_child(const std::vector<std::string>& args, const fs::path& err_file, std::chrono::seconds watchdog,
                 std::atomic<pid_t>& running_group) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw std::runtime_error("cannot start the phone " + args[0] + ": " + std::strerror(rc));
    running_group = pid;

    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    RunEnd end;
    if (pidfd < 0) {
        const int error = errno;
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        running_group = 0;
        throw std::runtime_error(std::string("cannot watch the phone's process (pidfd_open): ") + std::strerror(error));
    }
    const auto deadline = SteadyClock::now() + watchdog;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            end.hung = true;
            break;
        }
        pollfd fd{pidfd, POLLIN, 0};
        const int n = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (n > 0) break;
        if (n < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    ::close(pidfd);
    if (end.hung) ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // A phone that did not end by itself may leave a second instance behind.
    if (end.hung || WIFSIGNALED(status)) ::kill(-pid, SIGKILL);
    running_group = 0;
    if (!end.hung && WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    if (WIFEXITED(status)) end.exit_code = WEXITSTATUS(status);
    end.diagnostics = read_text(err_file);
    return end;
}

}  // namespace cli::monkey
