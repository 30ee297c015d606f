// The control socket: a running instance takes handset commands from `quillon ctl`,
// and the hosts of one device ask each other to bring a window to the front.
//
// Each host listens on run/ctl-<os pid>.sock of the device folder. `quillon ctl` goes
// to the phone that holds the device, whose pid the first line of run/phone.lock gives
// (a name that costs the phone nothing to make or remove). The run folder is owner-only
// and so is the socket; a peer of another user is refused. The protocol, one command a
// line and its answer, is control_protocol.h's.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace phone {

class Executor;

class ControlServer {
public:
    explicit ControlServer(Executor& executor);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Creates the socket and starts serving. False with `error` set when the socket
    // cannot be made; the instance can run without it.
    bool start(std::string& error);
    // Stops serving and removes the socket; waits for commands in progress, but not for
    // peers to read their answers.
    void stop();

    const std::filesystem::path& path() const { return path_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    std::filesystem::path path_;
};

// The socket of the host with OS process id `os_pid` in `run_dir`.
std::filesystem::path control_socket_path(const std::filesystem::path& run_dir, int os_pid);

// run/phone.lock: the phone that runs on the device holds it, and writes its OS pid on
// its first line.
std::filesystem::path phone_lock_path(const std::filesystem::path& run_dir);
// The socket of the phone that the lock file names, whether or not it still runs;
// empty when the file names none.
std::filesystem::path phone_control_socket(const std::filesystem::path& run_dir);

// Sends one command line to the socket at `socket` and collects the answer. Returns
// false with `error` set when the command failed or the socket could not be reached.
bool send_control_command(const std::filesystem::path& socket, const std::string& line,
                          std::vector<std::string>& output, std::string& error);

// What the instance of a device answered to one command line.
struct ControlReply {
    bool reached = false;  // false: no instance of the device could be reached
    bool ok = false;       // the command succeeded
    std::vector<std::string> output;
    std::string notice;    // a word for the user that is no error
    std::string error;
};

// Sends `line` to the instance the user started on the device in `device_folder`, or,
// when that one is gone, to any live host of the device.
ControlReply send_to_device(const std::filesystem::path& device_folder, const std::string& line);

// Lets SetForegroundWindow on another host's window ask that host over its socket.
void install_remote_foreground();

}  // namespace phone
