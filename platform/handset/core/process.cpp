// Processes of the handset: the host's own program and the programs it emulates.
#include "platform/handset/core/process.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "platform/handset/core/device.h"

namespace handset {
namespace {

std::mutex g_mu;
std::shared_ptr<ProcessObject> g_host;
std::unordered_map<DWORD, std::weak_ptr<ProcessObject>> g_local;
DWORD g_next_index = 1;
ExePathLookup g_remote_lookup = nullptr;
thread_local std::shared_ptr<ProcessObject> t_process;

}  // namespace

std::shared_ptr<ProcessObject> host_process() {
    std::lock_guard lock(g_mu);
    if (!g_host) {
        g_host = std::make_shared<ProcessObject>();
        g_host->pid = static_cast<DWORD>(self_os_pid()) << 8;
        if (has_device()) g_host->exe_path = device().exe_path();
        g_local[g_host->pid] = g_host;
    }
    return g_host;
}

std::shared_ptr<ProcessObject> current_process() {
    if (t_process) return t_process;
    return host_process();
}

void set_current_process(std::shared_ptr<ProcessObject> process) { t_process = std::move(process); }

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
    std::lock_guard lock(g_mu);
    auto it = g_local.find(pid);
    return it == g_local.end() ? nullptr : it->second.lock();
}

namespace {

std::atomic<int> g_self_pid{0};

void forget_self_pid() { g_self_pid.store(0, std::memory_order_relaxed); }

}  // namespace

int self_os_pid() {
    int pid = g_self_pid.load(std::memory_order_relaxed);
    if (pid != 0) return pid;
    // Registered before the first pid is kept, so that no child can inherit a kept pid.
    static const bool registered = (::pthread_atfork(nullptr, nullptr, &forget_self_pid), true);
    (void)registered;
    pid = ::getpid();
    g_self_pid.store(pid, std::memory_order_relaxed);
    return pid;
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
