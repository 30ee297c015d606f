// The processes a host emulates, lookups by process id, and other hosts' programs.
#include "platform/handset/core/process.h"

#include <signal.h>

#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace handset {
namespace {

std::mutex g_mu;
// The emulated processes of this host; the host's own program is the kernel's.
std::unordered_map<DWORD, std::weak_ptr<ProcessObject>> g_local;
DWORD g_next_index = 1;
ExePathLookup g_remote_lookup = nullptr;

}  // namespace

std::shared_ptr<ProcessObject> new_emulated_process(std::u16string exe_path) {
    auto process = std::make_shared<ProcessObject>();
    process->exe_path = std::move(exe_path);
    std::lock_guard lock(g_mu);
    // Indexes wrap within the host's 8 bits; a slot is reused only once its process is gone.
    for (int tries = 0; tries < 255; ++tries) {
        const DWORD index = g_next_index;
        g_next_index = g_next_index % 255 + 1;
        const DWORD pid = (static_cast<DWORD>(self_os_pid()) << 8) | index;
        auto it = g_local.find(pid);
        if (it == g_local.end() || it->second.expired()) {
            process->pid = pid;
            g_local[pid] = process;
            return process;
        }
    }
    return nullptr;
}

std::shared_ptr<ProcessObject> find_local_process(DWORD pid) {
    // Index 0 is the host's own program, which the kernel keeps (a forked child's may
    // still carry its parent's id).
    if (pid == static_cast<DWORD>(self_os_pid()) << 8)
        if (auto host = host_process(); host->pid == pid) return host;
    std::lock_guard lock(g_mu);
    auto it = g_local.find(pid);
    return it == g_local.end() ? nullptr : it->second.lock();
}

bool host_alive(DWORD pid) {
    const int os_pid = host_pid_of(pid);
    if (os_pid <= 0) return false;
    if (os_pid == self_os_pid()) return true;
    return kill(os_pid, 0) == 0 || errno == EPERM;
}

std::u16string process_exe_path(DWORD pid) {
    if (auto local = find_local_process(pid)) {
        std::lock_guard lock(kernel_lock());
        return local->ended() ? std::u16string() : local->exe_path;
    }
    ExePathLookup lookup;
    {
        std::lock_guard lock(g_mu);
        lookup = g_remote_lookup;
    }
    if (!lookup || !host_alive(pid)) return {};
    return lookup(pid);
}

void set_remote_exe_path_lookup(ExePathLookup lookup) {
    std::lock_guard lock(g_mu);
    g_remote_lookup = lookup;
}

}  // namespace handset
