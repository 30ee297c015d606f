// Processes of the device beyond the calling thread's own: the programs this host
// emulates, lookups by id, and the programs of other hosts.
//
// The kernel (kernel.h) keeps what every thread needs: ProcessObject, the process a
// thread runs for and the host's own program. Here a host makes its emulated
// processes, finds its processes by id, and asks after the processes of other hosts
// of the device, which it knows only by id.
#pragma once

#include <memory>
#include <string>

#include "platform/handset/core/kernel.h"

namespace handset {

// A new emulated process of this host with the next free index.
std::shared_ptr<ProcessObject> new_emulated_process(std::u16string exe_path);
// Looks up a process of this host by id (null when none, or it belongs to another host).
std::shared_ptr<ProcessObject> find_local_process(DWORD pid);

// OS process id of a device process id, and whether that host is still alive.
inline int host_pid_of(DWORD pid) { return static_cast<int>(pid >> 8); }
bool host_alive(DWORD pid);

// The device path of another process's program (any host); empty when unknown or dead.
// Other hosts' programs are looked up through the window table rows (hook below).
std::u16string process_exe_path(DWORD pid);
using ExePathLookup = std::u16string (*)(DWORD pid);
void set_remote_exe_path_lookup(ExePathLookup lookup);

}  // namespace handset
