// The clients of the control socket: `quillon ctl`, and a host asking another.
#include "platform/phone/control.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/phone/control_protocol.h"
#include "platform/phone/control_socket.h"

using namespace handset;

namespace fs = std::filesystem;

namespace phone {
namespace {

bool connect_socket(const fs::path& path, UniqueFd& out, std::string& error) {
    sockaddr_un addr;
    UniqueFd dir;
    UniqueFd fd = unix_stream_socket(path, addr, dir, "a socket", error);
    if (!fd) return false;
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = errno_text(errno);
        return false;
    }
    out = std::move(fd);
    return true;
}

// Writes `line`, closes the sending side and reads the answer up to its terminator.
// An instance may answer before it has read the whole line (one too long, a peer it
// refuses) and close: the send then fails, and the answer it left is read all the same.
bool exchange(int fd, const std::string& line, std::vector<std::string>& output, std::string& error,
              std::string* notice = nullptr) {
    std::string send_error;
    if (write_all(fd, line + "\n")) {
        ::shutdown(fd, SHUT_WR);
    } else {
        send_error = "cannot send the command: " + errno_text(errno);
        // Any other failure leaves the instance waiting for the rest of the line.
        if (errno != EPIPE && errno != ECONNRESET) {
            error = send_error;
            return false;
        }
    }
    ControlAnswerReader answer;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = send_error.empty() ? "the instance closed the connection without an answer" : send_error;
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
    // The phone that holds the device; when it has ended, any live host of the device
    // will do.
    std::vector<fs::path> candidates;
    if (fs::path phone = phone_control_socket(run_dir); !phone.empty()) candidates.push_back(std::move(phone));
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(run_dir, ec))
        if (process_alive(pid_of_socket(entry.path().filename().native()))) candidates.push_back(entry.path());
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

}  // namespace phone
