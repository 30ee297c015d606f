// The phones the monkey runs, each a child process in a process group of its own: one
// run's phone started and watched in real time, and the groups running at once, which
// an interrupted monkey ends before it goes.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/cli/monkey/monkey_checks.h"

namespace cli::monkey {

// Runs at once, at the most.
constexpr int kMaxJobs = 64;

// The process group that worker `slot` (below kMaxJobs) runs now, 0 for none; a
// signal the InterruptGuard catches kills each of them.
std::atomic<pid_t>& running_group_of(int slot);

// While it lives, an interrupted or terminated monkey takes its running phones along.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> previous_{};
};

// Runs `args` (the executable first) with stdin and stdout on /dev/null and stderr
// into `err_file`, and waits for its end at most `watchdog` of real time; past it the
// whole process group is killed and the run counts as hung.
RunEnd run_child(const std::vector<std::string>& args, const std::filesystem::path& err_file,
                 std::chrono::seconds watchdog, std::atomic<pid_t>& running_group);

}  // namespace cli::monkey
