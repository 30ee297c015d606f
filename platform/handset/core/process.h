// Processes of the emulated handset.
//
// A process is a program running on the device: the Quillon instance this host
// runs, or a device program emulated inside the host (the carrier's mail client).
// Every thread belongs to one process; threads started by CreateThread inherit it.
// Process ids are unique on the device: the host's OS process id shifted left by 8,
// plus a small index for the programs it emulates (0 is the host's own program).
#pragma once

#include <memory>
#include <string>

#include "platform/handset/core/kernel.h"

namespace handset {

class ProcessObject : public RunnableObject {
public:
    DWORD pid = 0;
    std::u16string exe_path;  // device path of the program
};

// The process of the calling thread (the host's own program by default).
std::shared_ptr<ProcessObject> current_process();
// Makes the calling thread (and the threads it starts) belong to `process`.
void set_current_process(std::shared_ptr<ProcessObject> process);

// The host's own program process (pid = os pid << 8). Created on first use.
std::shared_ptr<ProcessObject> host_process();
// A new emulated process of this host with the next free index.
std::shared_ptr<ProcessObject> new_emulated_process(std::u16string exe_path);
// Looks up a process of this host by id (null when none, or it belongs to another host).
std::shared_ptr<ProcessObject> find_local_process(DWORD pid);

// OS process id of a device process id, and whether that host is still alive.
inline int host_pid_of(DWORD pid) { return static_cast<int>(pid >> 8); }
bool host_alive(DWORD pid);

// This host's OS process id, as getpid() gives it but without a system call (which
// costs about a microsecond on a virtual machine, on paths that run every watch tick);
// a forked child gets its own.
int self_os_pid();

// The device path of another process's program (any host); empty when unknown or dead.
// Other hosts' programs are looked up through the window table rows (hook below).
std::u16string process_exe_path(DWORD pid);
using ExePathLookup = std::u16string (*)(DWORD pid);
void set_remote_exe_path_lookup(ExePathLookup lookup);

}  // namespace handset
