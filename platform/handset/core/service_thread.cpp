// The services thread (see service_thread.h): the services' list, the one wait for all
// of them, and the thread's start and end.
#include "platform/handset/core/service_thread.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/handset/core/kernel.h"

namespace handset {
namespace {

thread_local bool t_services_thread = false;

class ServicesThread {
public:
    void add(Service& service) {
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
