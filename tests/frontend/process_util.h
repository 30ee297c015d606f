// Helpers for the front-end tests that run the built `quillon`: a scratch device folder,
// a finished run with its output, and a running instance whose stdin and stdout the
// test holds. Reading waits on the pipes (poll with a generous limit), never by sleeping.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace fetest {

namespace fs = std::filesystem;

// Limit for any single wait on the phone, so that a broken build fails instead of hanging.
constexpr int kPipeLimitMs = 30'000;

// A scratch folder below /tmp (short, so that socket paths fit), removed afterwards.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/qfe-XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const char* name) const { return path_ / name; }

private:
    fs::path path_;
};

inline void write_file(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A child process with pipes on its stdin, stdout and stderr.
class Process {
public:
    explicit Process(const std::vector<std::string>& args) {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~Process() {
        close_stdin();
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) ::close(stdout_);
        if (stderr_ >= 0) ::close(stderr_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }

    void send(const std::string& text) {
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(stdin_, p, left);
            if (n <= 0) return;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    void close_stdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }

    // The next stdout line, or nothing at end of output or after the limit.
    std::optional<std::string> next_line() {
        for (;;) {
            const std::size_t nl = out_buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = out_buffer_.substr(0, nl);
                out_buffer_.erase(0, nl + 1);
                return line;
            }
            if (!pump(kPipeLimitMs)) return std::nullopt;
        }
    }
    // Reads stdout lines until one contains `needle`; returns it (nothing when the
    // output ended first). Every line read is kept in seen().
    std::optional<std::string> line_containing(const std::string& needle) {
        while (auto line = next_line()) {
            seen_.push_back(*line);
            if (line->find(needle) != std::string::npos) return line;
        }
        return std::nullopt;
    }
    const std::vector<std::string>& seen() const { return seen_; }

    // Closes stdin, reads everything and returns the exit status (-1 on a signal).
    int finish() {
        close_stdin();
        while (pump(kPipeLimitMs)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // All stdout not yet taken by next_line(), and all stderr (complete after finish()).
    const std::string& out() const { return out_buffer_; }
    const std::string& err() const { return err_buffer_; }

private:
    // Reads what is available on stdout or stderr; false at the end of both or on timeout.
    bool pump(int timeout_ms) {
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        if (stdout_ < 0 && stderr_ < 0) return false;
        if (::poll(fds, 2, timeout_ms) <= 0) return false;
        char chunk[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            int& fd = i == 0 ? stdout_ : stderr_;
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                ::close(fd);
                fd = -1;
            } else {
                (i == 0 ? out_buffer_ : err_buffer_).append(chunk, static_cast<std::size_t>(n));
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    bool waited_ = false;
    std::string out_buffer_, err_buffer_;
    std::vector<std::string> seen_;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs `quillon ARGS` to its end with `input` on stdin.
inline Result run_quillon(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), QUILLON_BINARY);
    Process p(args);
    p.send(input);
    const int status = p.finish();
    return {status, p.out(), p.err()};
}

}  // namespace fetest
