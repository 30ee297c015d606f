// The control socket's server: each host listens on its own socket and answers the
// handset commands of its peers, one thread a connection (see control.h). The services
// thread takes the connections as they come.
#include "platform/phone/control.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/phone/control_protocol.h"
#include "platform/phone/control_socket.h"
#include "platform/phone/executor.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/kernel.h"

using namespace handset;

namespace fs = std::filesystem;

namespace phone {
namespace {

// Sockets left behind by hosts that were killed. Every start looks, so the look reads
// the folder's names as they are, without a path made of each.
void remove_stale_sockets(const fs::path& run_dir) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(run_dir.c_str()), &::closedir);
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const int pid = pid_of_socket(entry->d_name);
        if (pid > 0 && !process_alive(pid)) ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

}  // namespace

struct ControlServer::State final : Service {
    Executor& executor;
    UniqueFd listener;  // non-blocking; open while the server serves
    UniqueFd wake;      // eventfd: stop() wakes the connections' waits through it
    UniqueFd spare;     // let go to refuse a connection when the descriptors run out

    struct Connection {
        std::thread thread;
        int fd = -1;
        bool done = false;
    };
    std::mutex mu;
    std::list<Connection> connections;
    std::atomic<bool> stopping = false;

    explicit State(Executor& e) : executor(e) {}

    Waits waits() override { return {{}, kNoDeadline, listener.get()}; }
    void run(int) override { accept_pending(); }
    void accept_pending();
    bool refuse_pending();
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

// Takes every connection waiting on the listener, each to a thread of its own.
void ControlServer::State::accept_pending() {
    for (;;) {
        const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // accept takes its descriptor before it looks for a connection: out of
            // descriptors it fails so with none waiting as well.
            if ((errno == EMFILE || errno == ENFILE) && spare && refuse_pending()) continue;
            return;
        }
        reap_finished();
        std::lock_guard lock(mu);
        connections.emplace_back();
        Connection* connection = &connections.back();
        connection->fd = fd;
        connection->thread = std::thread([this, connection] { serve(connection); });
    }
}

// Out of descriptors, a connection would wait, and keep the listener ready, for as long
// as that lasts, and the services thread would wake for it again and again. The spare
// descriptor is let go to take it, tell its peer why, and close it. False when no
// connection was waiting.
bool ControlServer::State::refuse_pending() {
    spare.reset();
    const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        const std::string refusal =
            format_control_answer({}, false, "the phone has no file descriptor left for the connection");
        [[maybe_unused]] ssize_t n = ::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
    }
    spare = UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    return fd >= 0;
}

std::string ControlServer::State::answer(std::string_view line) {
    std::optional<Command> command;
    std::string error, notice;
    if (!parse_control_request(line, command, error)) return format_control_answer({}, false, error);
    if (!command) return format_control_answer({}, true, {});
    std::string out;
    bool ok;
    {
        // The socket's thread is no program thread; it holds handset time only while
        // its command runs.
        Participation participation;
        ok = executor.run(*command, out, error, notice);
    }
    return format_control_answer(out, ok, error, notice);
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

ControlServer::ControlServer(Executor& executor) : state_(std::make_unique<State>(executor)) {}

ControlServer::~ControlServer() { stop(); }

bool ControlServer::start(std::string& error) {
    const fs::path run_dir = device().run_dir();
    std::error_code ec;
    // The device made run/; it is made again only if it was removed since.
    int restricted = ::chmod(run_dir.c_str(), 0700);
    if (restricted != 0 && errno == ENOENT) {
        fs::create_directories(run_dir, ec);
        restricted = ::chmod(run_dir.c_str(), 0700);
    }
    if (restricted != 0) {
        error = "cannot restrict " + run_dir.string() + ": " + errno_text(errno);
        return false;
    }
    remove_stale_sockets(run_dir);
    const int pid = self_os_pid();
    path_ = control_socket_path(run_dir, pid);

    sockaddr_un addr;
    UniqueFd dir;
    UniqueFd fd = unix_stream_socket(path_, addr, dir, "the control socket", error);
    if (!fd) return false;
    // Linux makes the socket's file with the mode of the socket itself (less the umask):
    // set before bind, the file is owner-only from its first moment, and no chmod of
    // the file (a write of its inode) follows. Where that fails, the file is changed.
    const bool owner_only = ::fchmod(fd.get(), 0600) == 0;
    auto bind_socket = [&] { return ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr); };
    int bound = bind_socket();
    if (bound != 0 && errno == EADDRINUSE) {  // left by an earlier process with this pid
        fs::remove(path_, ec);
        bound = bind_socket();
    }
    if (bound != 0) {
        error = "cannot create the control socket " + path_.string() + ": " + errno_text(errno);
        return false;
    }
    if ((!owner_only && ::chmod(path_.c_str(), 0600) != 0) || ::listen(fd.get(), 16) != 0 ||
        ::fcntl(fd.get(), F_SETFL, O_NONBLOCK) != 0) {
        error = "cannot open the control socket " + path_.string() + ": " + errno_text(errno);
        fs::remove(path_, ec);
        return false;
    }
    state_->listener = std::move(fd);
    state_->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC));
    state_->spare = UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    add_service(*state_);
    return true;
}

void ControlServer::stop() {
    if (!state_ || !state_->listener) return;
    // No connection is taken from here on.
    remove_service(*state_);
    {
        std::lock_guard lock(state_->mu);
        state_->stopping = true;
        for (auto& c : state_->connections)
            if (c.fd >= 0) ::shutdown(c.fd, SHUT_RD);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(state_->wake.get(), &one, sizeof one);
    for (auto& c : state_->connections) c.thread.join();
    state_->connections.clear();
    std::error_code ec;
    fs::remove(path_, ec);
    state_->listener.reset();
}

}  // namespace phone
