// The handle table, threads, the process each thread runs for, and per-process handle
// ownership.
#include "platform/handset/core/kernel.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/handset/core/device.h"

namespace handset {
namespace {

struct HandleEntry {
    std::shared_ptr<KernelObject> object;
    DWORD owner_pid;
};

// Lock order: the kernel lock may be held when the table's lock is taken, never
// the other way round.
std::mutex g_table_mu;
std::unordered_map<std::uintptr_t, HandleEntry> g_table;
std::uintptr_t g_next_handle = 0x100;

std::atomic<DWORD> g_next_thread_id{0x1000};
thread_local std::shared_ptr<ThreadObject> t_thread;

std::mutex g_host_mu;
std::shared_ptr<ProcessObject> g_host;
thread_local std::shared_ptr<ProcessObject> t_process;
std::atomic<int> g_self_pid{0};

void forget_self_pid() { g_self_pid.store(0, std::memory_order_relaxed); }

// Threads of start_thread that have not yet finished their thread-local teardown. It is
// never destroyed: the last of those threads may still touch it while the host exits.
struct LiveThreads {
    std::mutex mu;
    std::condition_variable gone;
    int count = 0;
};
LiveThreads& live_threads() {
    static auto* live = new LiveThreads;
    return *live;
}

// The end of a handset thread. It is the first thread-local the thread touches, so it is
// destroyed after all the others (the thread's message queue, its windows, its handle):
// only then does the thread's handle become signalled, as on the platform, and does
// the thread leave handset time and the count of live threads.
struct ThreadEnd {
    std::shared_ptr<ThreadObject> thread;
    DWORD code = 0;
    ~ThreadEnd() {
        if (!thread) return;
        {
            std::lock_guard lock(kernel_lock());
            abandon_mutexes_of(thread_token());
            thread->finish(code);
            clock().wake_waiters();
        }
        clock().leave();
        LiveThreads& live = live_threads();
        std::lock_guard lock(live.mu);
        if (--live.count == 0) live.gone.notify_all();
    }
};
thread_local ThreadEnd t_end;

}  // namespace

HANDLE make_handle(std::shared_ptr<KernelObject> object) {
    const DWORD owner = current_process()->pid;
    std::lock_guard lock(g_table_mu);
    const std::uintptr_t value = g_next_handle;
    g_next_handle += 4;
    g_table.emplace(value, HandleEntry{std::move(object), owner});
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> object_of(HANDLE handle) {
    std::lock_guard lock(g_table_mu);
    auto it = g_table.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == g_table.end() ? nullptr : it->second.object;
}

bool close_handle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    {
        std::lock_guard lock(g_table_mu);
        auto it = g_table.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == g_table.end()) return false;
        object = std::move(it->second.object);
        g_table.erase(it);
    }
    // The table held one reference and we hold the other: this was the last handle
    // when no other handle or service keeps the object.
    if (object.use_count() == 1) object->on_last_close();
    return true;
}

void release_process_handles(DWORD pid) {
    std::vector<std::shared_ptr<KernelObject>> released;
    {
        std::lock_guard lock(g_table_mu);
        for (auto it = g_table.begin(); it != g_table.end();) {
            if (it->second.owner_pid == pid) {
                released.push_back(std::move(it->second.object));
                it = g_table.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& object : released)
        if (object.use_count() == 1) object->on_last_close();
}

std::shared_ptr<ProcessObject> host_process() {
    std::lock_guard lock(g_host_mu);
    if (!g_host) {
        g_host = std::make_shared<ProcessObject>();
        g_host->pid = static_cast<DWORD>(self_os_pid()) << 8;
        // Empty unless --exe-path named one: the program host gives it the path of the
        // program it starts.
        if (has_device()) g_host->exe_path = device().exe_path();
    }
    return g_host;
}

std::shared_ptr<ProcessObject> current_process() {
    if (t_process) return t_process;
    return host_process();
}

void set_current_process(std::shared_ptr<ProcessObject> process) { t_process = std::move(process); }

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

std::shared_ptr<ThreadObject> current_thread() {
    if (!t_thread) {
        t_thread = std::make_shared<ThreadObject>();
        t_thread->id = g_next_thread_id.fetch_add(4);
    }
    return t_thread;
}

std::shared_ptr<ThreadObject> start_thread(std::function<DWORD()> body) {
    auto thread = std::make_shared<ThreadObject>();
    thread->id = g_next_thread_id.fetch_add(4);
    auto process = current_process();
    {
        std::lock_guard lock(live_threads().mu);
        ++live_threads().count;
    }
    clock().reserve();
    std::thread([thread, process, body = std::move(body)]() mutable {
        t_end.thread = thread;
        clock().adopt();
        t_thread = thread;
        set_current_process(process);
        t_end.code = body();
    }).detach();
    return thread;
}

bool wait_for_thread_exits(std::chrono::milliseconds timeout) {
    LiveThreads& live = live_threads();
    std::unique_lock lock(live.mu);
    return live.gone.wait_for(lock, timeout, [&] { return live.count == 0; });
}

}  // namespace handset
