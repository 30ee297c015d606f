// The control socket of a host: serving handset commands, the `quillon ctl` client and
// the cross-host foreground request.
#include "platform/phone/control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/phone/control_protocol.h"
#include "platform/phone/executor.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/host_io.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm.h"

namespace fs = std::filesystem;

namespace handset::frontend {
namespace {

std::string errno_text(int err) { return std::strerror(err); }

// The address of a socket file. A path longer than sun_path allows is reached through
// a descriptor of its folder (/proc/self/fd/N/name), which `dir` keeps open.
bool socket_address(const fs::path& path, sockaddr_un& addr, UniqueFd& dir, std::string& error) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::string text = path.string();
    if (text.size() >= sizeof addr.sun_path) {
        dir = UniqueFd(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dir) {
            error = "cannot open " + path.parent_path().string() + ": " + errno_text(errno);
            return false;
        }
        text = "/proc/self/fd/" + std::to_string(dir.get()) + "/" + path.filename().string();
        if (text.size() >= sizeof addr.sun_path) {
            error = "socket name too long: " + path.string();
            return false;
        }
    }
    std::memcpy(addr.sun_path, text.c_str(), text.size() + 1);
    return true;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool process_alive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// The OS process id in a socket name "ctl-<pid>.sock", or 0.
int pid_of_socket(const fs::path& path) {
    const std::string name = path.filename().string();
    if (!name.starts_with("ctl-") || !name.ends_with(".sock")) return 0;
    const std::string digits = name.substr(4, name.size() - 9);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoi(digits);
}

// Sockets left behind by hosts that were killed.
void remove_stale_sockets(const fs::path& run_dir) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(run_dir, ec)) {
        const int pid = pid_of_socket(entry.path());
        if (pid > 0 && !process_alive(pid)) fs::remove(entry.path(), ec);
    }
}

bool connect_socket(const fs::path& path, UniqueFd& out, std::string& error) {
    sockaddr_un addr;
    UniqueFd dir;
    if (!socket_address(path, addr, dir, error)) return false;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = "cannot create a socket: " + errno_text(errno);
        return false;
    }
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = errno_text(errno);
        return false;
    }
    out = std::move(fd);
    return true;
}

// Writes `line`, closes the sending side and reads the answer up to its terminator.
bool exchange(int fd, const std::string& line, std::vector<std::string>& output, std::string& error,
              std::string* notice = nullptr) {
    if (!write_all(fd, line + "\n")) {
        error = "cannot send the command: " + errno_text(errno);
        return false;
    }
    ::shutdown(fd, SHUT_WR);
    ControlAnswerReader answer;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "the instance closed the connection without an answer";
            return false;
        }
        if (answer.feed(std::string_view(chunk, static_cast<std::size_t>(n)))) break;
    }
    output.insert(output.end(), answer.output().begin(), answer.output().end());
    if (notice) *notice = answer.notice();
    if (!answer.ok()) error = answer.error();
    return answer.ok();
}

}  // namespace

struct ControlServer::State {
    Executor& executor;
    bool primary;
    UniqueFd listener;
    UniqueFd wake;  // eventfd: stop() wakes the accept loop through it
    std::thread acceptor;
    fs::path link;  // run/ctl.sock when this server made it

    struct Connection {
        std::thread thread;
        int fd = -1;
        bool done = false;
    };
    std::mutex mu;
    std::list<Connection> connections;
    std::atomic<bool> stopping = false;

    State(Executor& e, bool p) : executor(e), primary(p) {}

    void accept_loop();
    void serve(Connection* connection);
    std::string answer(std::string_view line);
    bool send_answer(int fd, std::string_view data);
    void reap_finished();
};

void ControlServer::State::reap_finished() {
    std::list<Connection> finished;
    {
        std::lock_guard lock(mu);
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->done) {
                auto next = std::next(it);
                finished.splice(finished.end(), connections, it);
                it = next;
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) c.thread.join();
}

void ControlServer::State::accept_loop() {
    for (;;) {
        pollfd fds[2] = {{listener.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        reap_finished();
        std::lock_guard lock(mu);
        if (stopping) {
            ::close(fd);
            return;
        }
        connections.emplace_back();
        Connection* connection = &connections.back();
        connection->fd = fd;
        connection->thread = std::thread([this, connection] { serve(connection); });
    }
}

std::string ControlServer::State::answer(std::string_view line) {
    std::optional<Command> command;
    std::string error, notice;
    if (!parse_control_request(line, command, error)) return format_control_answer({}, false, error);
    if (!command) return format_control_answer({}, true, {});
    std::ostringstream out;
    bool ok;
    {
        // The socket's thread is no program thread; it holds handset time only while
        // its command runs.
        Participation participation;
        ok = executor.run(*command, out, error, notice);
    }
    return format_control_answer(out.str(), ok, error, notice);
}

// Sends all of `data`, waiting while the peer's buffers are full, but not once the
// server is stopping: a peer that never reads must not keep the instance from ending.
// False when the data could not all be sent.
bool ControlServer::State::send_answer(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // The wake eventfd is never read, so once stop() has signalled it, it stays ready.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wake.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (fds[1].revents & POLLIN) return false;
    }
    return true;
}

void ControlServer::State::serve(Connection* connection) {
    const int fd = connection->fd;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
        send_answer(fd, format_control_answer({}, false, "permission denied: the instance belongs to another user"));
    } else {
        ControlRequestReader requests;
        char chunk[4096];
        // Once the server stops, lines already received are left unanswered.
        while (!stopping) {
            std::string line;
            const auto next = requests.next(line);
            if (next == ControlRequestReader::Next::Line) {
                if (!send_answer(fd, answer(line))) break;
                continue;
            }
            if (next == ControlRequestReader::Next::TooLong) {
                // The rest of an oversized line is not read: the connection ends here.
                send_answer(fd, control_line_too_long_answer());
                break;
            }
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // The peer closed its side: a last line without a line break still counts.
                if (n == 0 && !stopping)
                    if (const auto last = requests.last_line()) send_answer(fd, answer(*last));
                break;
            }
            requests.feed(std::string_view(chunk, static_cast<std::size_t>(n)));
        }
    }
    std::lock_guard lock(mu);
    ::close(fd);
    connection->fd = -1;
    connection->done = true;
}

ControlServer::ControlServer(Executor& executor, bool primary)
    : state_(std::make_unique<State>(executor, primary)) {}

ControlServer::~ControlServer() { stop(); }

fs::path control_socket_path(const fs::path& run_dir, int os_pid) {
    return run_dir / ("ctl-" + std::to_string(os_pid) + ".sock");
}

bool ControlServer::start(std::string& error) {
    const fs::path run_dir = device().run_dir();
    std::error_code ec;
    fs::create_directories(run_dir, ec);
    if (::chmod(run_dir.c_str(), 0700) != 0) {
        error = "cannot restrict " + run_dir.string() + ": " + errno_text(errno);
        return false;
    }
    remove_stale_sockets(run_dir);
    path_ = control_socket_path(run_dir, ::getpid());
    fs::remove(path_, ec);

    sockaddr_un addr;
    UniqueFd dir;
    if (!socket_address(path_, addr, dir, error)) return false;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = "cannot create the control socket: " + errno_text(errno);
        return false;
    }
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = "cannot create the control socket " + path_.string() + ": " + errno_text(errno);
        return false;
    }
    if (::chmod(path_.c_str(), 0600) != 0 || ::listen(fd.get(), 16) != 0) {
        error = "cannot open the control socket " + path_.string() + ": " + errno_text(errno);
        fs::remove(path_, ec);
        return false;
    }
    state_->listener = std::move(fd);
    state_->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC));

    if (state_->primary) {
        // Replace the link in one step so that a client never finds it missing.
        const fs::path link = run_dir / "ctl.sock";
        const fs::path temp = run_dir / ("ctl.sock." + std::to_string(::getpid()));
        fs::remove(temp, ec);
        if (::symlink(path_.filename().c_str(), temp.c_str()) == 0 && ::rename(temp.c_str(), link.c_str()) == 0)
            state_->link = link;
        else
            fs::remove(temp, ec);
    }
    state_->acceptor = std::thread([s = state_.get()] { s->accept_loop(); });
    return true;
}

void ControlServer::stop() {
    if (!state_ || !state_->acceptor.joinable()) return;
    {
        std::lock_guard lock(state_->mu);
        state_->stopping = true;
        for (auto& c : state_->connections)
            if (c.fd >= 0) ::shutdown(c.fd, SHUT_RD);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(state_->wake.get(), &one, sizeof one);
    state_->acceptor.join();
    for (auto& c : state_->connections) c.thread.join();
    state_->connections.clear();
    std::error_code ec;
    if (!state_->link.empty()) {
        // Another instance may have taken the link over meanwhile; only ours is removed.
        if (fs::read_symlink(state_->link, ec) == path_.filename()) fs::remove(state_->link, ec);
    }
    fs::remove(path_, ec);
    state_->listener.reset();
}

bool send_control_command(const fs::path& socket, const std::string& line, std::vector<std::string>& output,
                          std::string& error) {
    UniqueFd fd;
    if (!connect_socket(socket, fd, error)) {
        error = "cannot reach " + socket.string() + ": " + error;
        return false;
    }
    return exchange(fd.get(), line, output, error);
}

ControlReply send_to_device(const fs::path& device_folder, const std::string& line) {
    ControlReply reply;
    const fs::path run_dir = device_folder / "run";
    // The instance the user started is behind ctl.sock; when that link is stale, any
    // live host of the device will do.
    std::vector<fs::path> candidates{run_dir / "ctl.sock"};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(run_dir, ec))
        if (process_alive(pid_of_socket(entry.path()))) candidates.push_back(entry.path());
    UniqueFd fd;
    for (const auto& candidate : candidates) {
        std::string ignored;
        if (connect_socket(candidate, fd, ignored)) break;
    }
    if (!fd) return reply;
    reply.reached = true;
    reply.ok = exchange(fd.get(), line, reply.output, reply.error, &reply.notice);
    return reply;
}

void install_remote_foreground() {
    set_remote_foreground_handler([](DWORD pid, HWND hwnd) {
        if (!has_device()) return false;
        const fs::path socket = control_socket_path(device().run_dir(), host_pid_of(pid));
        std::ostringstream line;
        line << "foreground 0x" << std::hex << reinterpret_cast<std::uintptr_t>(hwnd);
        std::vector<std::string> output;
        std::string error;
        return send_control_command(socket, line.str(), output, error);
    });
}

}  // namespace handset::frontend
