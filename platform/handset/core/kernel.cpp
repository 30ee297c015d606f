// The handle table, threads, the process each thread runs for, per-process handle
// ownership, and the services thread.
#include "platform/handset/core/kernel.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
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

// The services thread: the services' list, the one wait for all of them, and the
// thread's start and end.
namespace {

thread_local bool t_services_thread = false;

class ServicesThread {
public:
    void add(Service& service) {
        assert(!t_services_thread);
        std::lock_guard run_lock(run_mu_);
        std::shared_ptr<Loop> loop;
        {
            std::lock_guard klock(kernel_lock());
            assert(!listed(&service));
            services_.push_back(&service);
            if (loop_) {
                loop_->changed->set();
                clock().wake_waiters();
                return;
            }
            loop = loop_ = std::make_shared<Loop>();
        }
        // start_thread takes the kernel lock itself.
        thread_ = start_thread([this, loop] { return run(*loop); });
    }

    void remove(Service& service) {
        assert(!t_services_thread);
        std::shared_ptr<ThreadObject> ending;
        {
            // Waits out a run of the service under way; none starts while this is held.
            std::lock_guard run_lock(run_mu_);
            std::lock_guard klock(kernel_lock());
            const auto it = std::find(services_.begin(), services_.end(), &service);
            if (it == services_.end()) return;
            services_.erase(it);
            if (!loop_) return;
            loop_->ending = services_.empty();
            loop_->changed->set();
            clock().wake_waiters();
            if (loop_->ending) {
                loop_.reset();
                ending = std::move(thread_);
            }
        }
        if (ending) {
            std::unique_lock klock(kernel_lock());
            Waitable* const thread[] = {ending.get()};
            clock().wait(klock, thread, false, kNoDeadline);
        }
    }

private:
    // One thread's life: a thread that is ending may still be on its way out when the
    // next one starts, so each has its own.
    struct Loop {
        std::shared_ptr<EventObject> changed = std::make_shared<EventObject>(false, false);
        bool ending = false;  // kernel lock
    };

    bool listed(Service* service) const {
        assert(kernel_lock().held());
        return std::find(services_.begin(), services_.end(), service) != services_.end();
    }

    DWORD run(Loop& loop) {
        // What each object, descriptor and deadline of the wait belongs to.
        std::vector<Waitable*> objects;
        std::vector<std::pair<Service*, int>> object_owners;
        std::vector<int> fds;
        std::vector<Service*> fd_owners;
        std::vector<std::pair<Service*, long long>> deadlines;
        std::vector<std::pair<Service*, int>> due;
        t_services_thread = true;
        std::unique_lock klock(kernel_lock());
        while (!loop.ending) {
            objects.assign(1, loop.changed.get());
            object_owners.assign(1, {nullptr, 0});
            fds.clear();
            fd_owners.clear();
            deadlines.clear();
            long long deadline = kNoDeadline;
            for (Service* service : services_) {
                const Service::Waits waits = service->waits();
                for (std::size_t i = 0; i < waits.objects.size(); ++i) {
                    objects.push_back(waits.objects[i]);
                    object_owners.emplace_back(service, static_cast<int>(i));
                }
                if (waits.host_fd >= 0) {
                    fds.push_back(waits.host_fd);
                    fd_owners.push_back(service);
                }
                if (waits.deadline != kNoDeadline) {
                    deadlines.emplace_back(service, waits.deadline);
                    if (deadline == kNoDeadline || waits.deadline < deadline) deadline = waits.deadline;
                }
            }
            const int woken = clock().wait(klock, objects, false, deadline, fds);
            if (loop.ending) break;
            due.clear();
            if (woken == kWaitTimeout) {
                const long long now = clock().now_ms();
                for (const auto& [service, at] : deadlines)
                    if (at <= now) due.emplace_back(service, kWaitTimeout);
            } else if (woken >= kWaitHostInput) {
                due.emplace_back(fd_owners[static_cast<std::size_t>(woken - kWaitHostInput)], kWaitHostInput);
            } else if (const auto& [service, index] = object_owners[static_cast<std::size_t>(woken & ~kWaitAbandoned)];
                       service) {
                due.emplace_back(service, index);
            }
            klock.unlock();
            for (const auto& [service, what] : due) {
                std::lock_guard run_lock(run_mu_);
                bool still_here;
                {
                    std::lock_guard relock(kernel_lock());
                    still_here = !loop.ending && listed(service);
                }
                if (still_here) service->run(what);
            }
            klock.lock();
        }
        return 0;
    }

    // Held while a service runs, and by add() and remove(); taken before the kernel lock.
    std::mutex run_mu_;
    std::shared_ptr<ThreadObject> thread_;  // run_mu_
    // Kernel lock.
    std::vector<Service*> services_;
    std::shared_ptr<Loop> loop_;
};

// Never destroyed: the thread may still be waiting when the process exits.
ServicesThread& services_thread() {
    static ServicesThread* thread = new ServicesThread;
    return *thread;
}

}  // namespace

void add_service(Service& service) { services_thread().add(service); }
void remove_service(Service& service) { services_thread().remove(service); }

}  // namespace handset
