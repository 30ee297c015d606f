// The power manager: the system power-state name, the user-idle countdown and the
// broadcast of power notifications into the message queues registered with
// RequestPowerNotifications; GetSystemPowerState.
//
// The countdown is a participating handset thread that waits on the clock until the
// idle deadline or until something moves it (a key, a new timeout, a state change);
// it never polls, and under the virtual clock its deadline is one of the waits that
// time jumps to.
#include <cassert>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/devices/msgqueue_object.h"
#include "platform/handset/devices/services.h"
#include "platform/pm.h"
#include "platform/winbase.h"

namespace handset {
namespace {

constexpr long long kDefaultIdleTimeoutMs = 30000;
constexpr std::size_t kMaxStateNameLength = 260;
// Returned when the power manager is not available to take a registration.
constexpr DWORD kErrorServiceDoesNotExist = 1060;

// The platform's flag words of the state names it knows; other names have none.
DWORD state_flags(std::u16string_view name) {
    struct Known {
        std::u16string_view name;
        DWORD flags;
    };
    static constexpr Known known[] = {
        {u"on", POWER_STATE_ON},         {u"off", 0x00020000},        {u"critical", 0x00040000},
        {u"boot", 0x00080000},           {u"idle", 0x00100000},       {u"suspend", 0x00200000},
        {u"unattended", 0x00400000},     {u"reset", 0x00800000},      {u"useridle", POWER_STATE_USERIDLE},
    };
    for (const auto& k : known)
        if (k.name == name) return k.flags;
    return 0;
}
constexpr DWORD kPowerStateSuspend = 0x00200000;

class PowerManager {
public:
    std::u16string state() const {
        std::lock_guard lock(published_mu_);
        return published_;
    }

    std::optional<long long> timeout() const {
        std::lock_guard lock(published_mu_);
        return published_timeout_;
    }

    void start() {
        std::lock_guard lock(mu_);
        if (thread_) return;
        last_activity_ = clock().now_ms();
        {
            std::lock_guard klock(kernel_lock());
            stopping_ = false;
        }
        rearm();
        thread_ = start_thread([this] { return idle_loop(); });
    }

    void stop() {
        std::shared_ptr<ThreadObject> thread;
        {
            std::lock_guard lock(mu_);
            thread = std::move(thread_);
        }
        if (thread) {
            std::unique_lock klock(kernel_lock());
            stopping_ = true;
            wake_->set();
            clock().wake_waiters();
            Waitable* const waitables[] = {thread.get()};
            clock().wait(klock, waitables, false, kNoDeadline);
        }
        std::lock_guard lock(mu_);
        set_state(u"on");
        set_timeout_locked(kDefaultIdleTimeoutMs);
        registrations_.clear();
        std::lock_guard klock(kernel_lock());
        deadline_ = kNoDeadline;
    }

    void user_activity() {
        std::lock_guard lock(mu_);
        last_activity_ = clock().now_ms();
        if (state_ != u"on") transition(u"on");
        else rearm();
    }

    void set_timeout(std::optional<long long> ms) {
        if (ms && *ms < 0) throw std::invalid_argument("the idle timeout cannot be negative");
        std::lock_guard lock(mu_);
        set_timeout_locked(ms);
        rearm();
    }

    void force_state(std::u16string_view name) {
        if (name.empty() || name.size() >= kMaxStateNameLength)
            throw std::invalid_argument("a power state name has 1 to 259 characters");
        std::lock_guard lock(mu_);
        transition(std::u16string(name));
    }

    void info_changed() {
        std::lock_guard lock(mu_);
        broadcast(PBT_POWERINFOCHANGE);
    }

    int add(std::weak_ptr<MessageQueue> queue, DWORD mask) {
        std::lock_guard lock(mu_);
        registrations_.push_back({next_id_, std::move(queue), mask});
        return next_id_++;
    }

    void remove(int id) {
        std::lock_guard lock(mu_);
        std::erase_if(registrations_, [id](const Registration& r) { return r.id == id; });
    }

private:
    struct Registration {
        int id;
        std::weak_ptr<MessageQueue> queue;
        DWORD mask;
    };

    // The countdown's thread: sleeps until the idle deadline or until woken to look
    // at a new one.
    DWORD idle_loop() {
        std::unique_lock klock(kernel_lock());
        while (!stopping_) {
            Waitable* const waitables[] = {wake_.get()};
            if (clock().wait(klock, waitables, false, deadline_) == kWaitTimeout) {
                klock.unlock();
                deadline_reached();
                klock.lock();
            }
        }
        return 0;
    }

    void deadline_reached() {
        std::lock_guard lock(mu_);
        if (state_ == u"on" && timeout_ && clock().now_ms() >= last_activity_ + *timeout_)
            transition(u"useridle");
        else
            rearm();
    }

    // The following run with mu_ held.

    void set_state(std::u16string name) {
        assert(mu_.held());
        state_ = std::move(name);
        std::lock_guard lock(published_mu_);
        published_ = state_;
    }

    void set_timeout_locked(std::optional<long long> ms) {
        assert(mu_.held());
        timeout_ = ms;
        std::lock_guard lock(published_mu_);
        published_timeout_ = ms;
    }

    // Moves the countdown's deadline to where the state and the last activity put it.
    void rearm() {
        assert(mu_.held());
        const long long deadline =
            (state_ == u"on" && timeout_) ? last_activity_ + *timeout_ : kNoDeadline;
        std::lock_guard klock(kernel_lock());
        deadline_ = deadline;
        wake_->set();
        clock().wake_waiters();
    }

    void transition(std::u16string name) {
        assert(mu_.held());
        const bool resume = (state_flags(state_) & kPowerStateSuspend) && name == u"on";
        set_state(std::move(name));
        if (state_ == u"on") last_activity_ = clock().now_ms();
        rearm();
        if (resume) broadcast(PBT_RESUME);
        broadcast(PBT_TRANSITION);
    }

    // One notification to every queue whose registration's mask covers it; a queue
    // that is full or gone misses it, as on the platform.
    void broadcast(DWORD message) {
        assert(mu_.held());
        events().emit("power", {{"state", to_utf8(state_)}, {"mask", message}});
        const bool named = message == PBT_TRANSITION;
        const DWORD flags = named ? state_flags(state_) : 0;
        const DWORD length = named ? static_cast<DWORD>(state_.size() * sizeof(WCHAR)) : 0;
        std::vector<std::uint8_t> bytes(offsetof(POWER_BROADCAST, SystemPowerState) + length);
        POWER_BROADCAST header{message, flags, length, {0}};
        std::memcpy(bytes.data(), &header, offsetof(POWER_BROADCAST, SystemPowerState));
        if (named) std::memcpy(bytes.data() + offsetof(POWER_BROADCAST, SystemPowerState), state_.data(), length);

        std::lock_guard klock(kernel_lock());
        for (const auto& r : registrations_) {
            if (!(r.mask & message)) continue;
            if (auto queue = r.queue.lock()) write_message(*queue, bytes);
        }
        clock().wake_waiters();
    }

    // mu_ serialises state changes and broadcasts; it is taken before the kernel lock.
    // published_mu_ only guards copies of the name and the timeout for readers, so
    // that they (event sinks included) never wait for a broadcast.
    CheckedMutex mu_;
    mutable std::mutex published_mu_;
    std::u16string state_ = u"on";
    std::u16string published_ = u"on";
    std::optional<long long> timeout_ = kDefaultIdleTimeoutMs;
    std::optional<long long> published_timeout_ = kDefaultIdleTimeoutMs;
    long long last_activity_ = 0;
    std::vector<Registration> registrations_;
    int next_id_ = 1;
    std::shared_ptr<ThreadObject> thread_;

    // Kernel lock.
    std::shared_ptr<EventObject> wake_ = std::make_shared<EventObject>(false, false);
    long long deadline_ = kNoDeadline;
    bool stopping_ = false;
};

// Never destroyed: the countdown's thread may still be waiting when the process exits.
PowerManager& power_manager() {
    static PowerManager* manager = new PowerManager;
    return *manager;
}

// The handle RequestPowerNotifications returns; closing it ends the registration.
class PowerNotifyObject : public KernelObject {
public:
    explicit PowerNotifyObject(int id) : id_(id) {}
    int id() const { return id_; }
    void on_last_close() override { power_manager().remove(id_); }

private:
    int id_;
};

}  // namespace

void power_user_activity() { power_manager().user_activity(); }
void power_start() { power_manager().start(); }
void power_stop() { power_manager().stop(); }

std::u16string power_state() { return power_manager().state(); }
void power_button() { power_manager().user_activity(); }
void power_set_state(std::u16string_view name) { power_manager().force_state(name); }
void power_info() { power_manager().info_changed(); }
void set_idle_timeout(std::optional<long long> ms) { power_manager().set_timeout(ms); }
std::optional<long long> idle_timeout() { return power_manager().timeout(); }

}  // namespace handset

using namespace handset;

HANDLE RequestPowerNotifications(HANDLE queue, DWORD mask) {
    auto object = object_as<MsgQueueObject>(queue);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (fault_active(Fault::PowerNotify)) {
        SetLastError(kErrorServiceDoesNotExist);
        return nullptr;
    }
    const int id = power_manager().add(object->queue(), mask);
    return make_handle(std::make_shared<PowerNotifyObject>(id));
}

DWORD StopPowerNotifications(HANDLE notifications) {
    auto object = object_as<PowerNotifyObject>(notifications);
    if (!object) return ERROR_INVALID_HANDLE;
    const int id = object->id();
    object.reset();
    close_handle(notifications);
    // Stopping ends the registration even while a duplicate reference keeps the object.
    power_manager().remove(id);
    return ERROR_SUCCESS;
}

DWORD GetSystemPowerState(LPWSTR name, DWORD length, LPDWORD flags) {
    const std::u16string state = power_manager().state();
    if (name) {
        if (length < state.size() + 1) return ERROR_INSUFFICIENT_BUFFER;
        std::memcpy(name, state.data(), state.size() * sizeof(WCHAR));
        name[state.size()] = u'\0';
    }
    if (flags) *flags = state_flags(state);
    return ERROR_SUCCESS;
}
