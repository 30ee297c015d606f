// Helpers of the tests that run the built `quillon`: a child process whose output is
// read as it streams, waits on its end with a deadline (through a pidfd, never by
// sleeping), the forced kill, the JSON lines of what a phone printed, and small file
// helpers. Scratch folders: temp_dir.h.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/build_paths.h"
#include "common/temp_dir.h"
#include "platform/cli/sanitizer_slowdown.h"

extern char** environ;

namespace qtest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// Limit for any single wait on the phone's pipe, so that a broken build fails instead of
// hanging.
constexpr int kPipeLimitMs = 30'000;

// The few limits that stand for the program's own timing (a second instance ends within
// 12 s) stretch by a sanitizer build's slowdown.
constexpr int kSlowdown = cli::kSanitizerSlowdown;

// Limit for a wait that only a broken build would reach.
constexpr auto kStuckLimit = std::chrono::seconds(30 * kSlowdown);

inline void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A `quillon` process with its stdin, stdout and stderr on pipes.
class Child {
public:
    // `args` follow the binary's name.
    explicit Child(const std::vector<std::string>& args, const std::string& binary = qtest::kQuillonBinary) {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{binary};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
        if (pid_ > 0) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }
    ~Child() {
        close_stdin();
        kill();
        if (stdout_ >= 0) ::close(stdout_);
        if (stderr_ >= 0) ::close(stderr_);
        if (pidfd_ >= 0) ::close(pidfd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0 && pidfd_ >= 0; }
    pid_t pid() const { return pid_; }
    int pidfd() const { return pidfd_; }

    void send(const std::string& text) {
        std::string_view left = text;
        while (!left.empty() && stdin_ >= 0) {
            const ssize_t n = ::write(stdin_, left.data(), left.size());
            if (n <= 0) return;
            left.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    void close_stdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }

    // The next complete stdout line, waiting until `deadline`; nothing at the end of
    // the output or past the deadline.
    std::optional<std::string> next_line(Clock::time_point deadline) {
        for (;;) {
            const std::size_t nl = out_.find('\n');
            if (nl != std::string::npos) {
                std::string line = out_.substr(0, nl);
                out_.erase(0, nl + 1);
                return line;
            }
            if (!pump(deadline)) return std::nullopt;
        }
    }
    std::optional<std::string> next_line() { return next_line(Clock::now() + kStuckLimit); }
    // Reads stdout lines until one contains `needle`.
    std::optional<std::string> line_containing(const std::string& needle) {
        while (auto line = next_line())
            if (line->find(needle) != std::string::npos) return line;
        return std::nullopt;
    }

    // Waits for the process to end until `deadline`; its exit status (-1 when killed by
    // a signal), or nothing when it still runs.
    std::optional<int> wait_until(Clock::time_point deadline) {
        if (status_) return status_;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd fd{pidfd_, POLLIN, 0};
            const int n = ::poll(&fd, 1, static_cast<int>(std::max<long long>(left, 0)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            return reap();
        }
    }
    // Closes stdin, reads all output and waits for the end; the exit status.
    int finish() {
        close_stdin();
        const auto deadline = Clock::now() + kStuckLimit;
        while (pump(deadline)) {
        }
        const auto status = wait_until(deadline);
        if (!status) {
            kill();
            return -2;
        }
        return *status;
    }
    // SIGKILL and reap, so that no zombie keeps the process id alive.
    void kill() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            reap();
        }
    }
    bool ended() const { return status_.has_value(); }

    // Drains whatever output is there without waiting.
    void drain() {
        while (pump(Clock::now())) {
        }
    }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    int reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return *status_;
    }

    // Reads what is available on stdout or stderr by `deadline`; false at the end of
    // both or when nothing came in time.
    bool pump(Clock::time_point deadline) {
        if (stdout_ < 0 && stderr_ < 0) return false;
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int n = ::poll(fds, 2, static_cast<int>(std::max<long long>(left, 0)));
        if (n < 0 && errno == EINTR) return true;
        if (n <= 0) return false;
        char chunk[8192];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            int& fd = i == 0 ? stdout_ : stderr_;
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got <= 0) {
                ::close(fd);
                fd = -1;
            } else {
                (i == 0 ? out_ : err_).append(chunk, static_cast<std::size_t>(got));
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    std::optional<int> status_;
    std::string out_, err_;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs `quillon ARGS` to its end with `input` on stdin.
inline Result run_quillon(const std::vector<std::string>& args, const std::string& input = {},
                          const std::string& binary = qtest::kQuillonBinary) {
    Child child(args, binary);
    child.send(input);
    const int status = child.finish();
    return {status, child.out(), child.err()};
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The JSON objects among `text`'s lines (events, `controls` output); other lines skipped.
inline std::vector<Json> json_lines(const std::string& text) {
    std::vector<Json> out;
    for (const std::string& line : lines_of(text)) {
        if (line.empty() || line.front() != '{') continue;
        Json j = Json::parse(line, nullptr, false);
        if (!j.is_discarded()) out.push_back(std::move(j));
    }
    return out;
}

}  // namespace qtest
