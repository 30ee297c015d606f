// The pieces of the control socket that its server and its clients share: a socket
// for a path of any length, whole writes, and telling live hosts' sockets from stale ones.
#pragma once

#include <sys/un.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/handset/core/host_io.h"

namespace phone {

std::string errno_text(int err);

// A new stream socket, neither bound nor connected, and in `addr` the address of the
// socket file `path`. A path longer than sun_path allows is reached through a
// descriptor of its folder, which `dir` keeps open while `addr` is in use. An empty
// descriptor with `error` set when either cannot be made; `what` names the socket there.
handset::UniqueFd unix_stream_socket(const std::filesystem::path& path, sockaddr_un& addr, handset::UniqueFd& dir,
                            std::string_view what, std::string& error);

// Sends all of `data`, blocking while the peer's buffers are full.
bool write_all(int fd, std::string_view data);

// Whether the OS process `pid` is running.
bool process_alive(int pid);

// The OS process id in a socket's file name "ctl-<pid>.sock", or 0.
int pid_of_socket(std::string_view name);

}  // namespace phone
