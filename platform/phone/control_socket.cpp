// The control socket's shared pieces (see control_socket.h) and the sockets' names.
#include "platform/phone/control_socket.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/phone/control.h"

using namespace handset;

namespace fs = std::filesystem;

namespace phone {
namespace {

// The address of a socket file; see unix_stream_socket for `dir`.
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

}  // namespace

std::string errno_text(int err) { return std::strerror(err); }

UniqueFd unix_stream_socket(const fs::path& path, sockaddr_un& addr, UniqueFd& dir, std::string_view what,
                            std::string& error) {
    if (!socket_address(path, addr, dir, error)) return UniqueFd();
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) error = "cannot create " + std::string(what) + ": " + errno_text(errno);
    return fd;
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

namespace {

// The process id that `digits` spell, or 0 when they spell none (a sign, other
// characters, a number beyond an int: a stray file in run/ must not end the phone).
int pid_of_digits(std::string_view digits) {
    if (digits.empty() || digits.front() == '-') return 0;
    int pid = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    return ec == std::errc() && end == digits.data() + digits.size() && pid > 0 ? pid : 0;
}

}  // namespace

int pid_of_socket(std::string_view name) {
    if (!name.starts_with("ctl-") || !name.ends_with(".sock")) return 0;
    return pid_of_digits(name.substr(4, name.size() - 9));
}

fs::path control_socket_path(const fs::path& run_dir, int os_pid) {
    return run_dir / ("ctl-" + std::to_string(os_pid) + ".sock");
}

fs::path phone_lock_path(const fs::path& run_dir) { return run_dir / "phone.lock"; }

fs::path phone_control_socket(const fs::path& run_dir) {
    std::ifstream in(phone_lock_path(run_dir));
    std::string line;
    const int pid = std::getline(in, line) ? pid_of_digits(line) : 0;
    return pid > 0 ? control_socket_path(run_dir, pid) : fs::path();
}

}  // namespace phone
