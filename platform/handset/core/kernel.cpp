// The handle table, threads and per-process handle ownership.
#include "platform/handset/core/kernel.h"

#include <atomic>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/handset/core/process.h"

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

std::size_t open_handle_count() {
    std::lock_guard lock(g_table_mu);
    return g_table.size();
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
    clock().reserve();
    std::thread([thread, process, body = std::move(body)]() mutable {
        clock().adopt();
        t_thread = thread;
        set_current_process(process);
        const DWORD code = body();
        {
            std::lock_guard lock(kernel_lock());
            thread->finish(code);
            clock().wake_waiters();
        }
        t_thread.reset();
        clock().leave();
    }).detach();
    return thread;
}

}  // namespace handset
