// The power manager: the system power state and its idle timeouts, the battery, and the
// broadcast of power notifications into the message queues registered with
// RequestPowerNotifications; GetSystemPowerState. See power.h for the states and the
// timeouts.
//
// It runs on the services thread, which waits on the clock until the next thing that is
// due: the next idle step, or the first battery poll that will read a change. It never
// polls: a battery whose reading stays the same costs nothing, and under the virtual
// clock each deadline is one of the waits that time jumps to.
#include "platform/handset/power/power.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/handset/core/checked_mutex.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/power/msgqueue_object.h"
#include "platform/handset/registry/paths.h"
#include "platform/handset/registry/state_values.h"
#include "platform/pm.h"
#include "platform/winbase.h"

namespace handset {
namespace {

constexpr std::size_t kMaxStateNameLength = 260;
// What a program is told when the power manager does not take its registration.
constexpr DWORD kErrorServiceNotActive = 1062;
constexpr const char16_t* kReloadEventName = u"PowerManager/ReloadActivityTimeouts";

// The flag words of the state names the platform knows; other names have none. A
// Windows Mobile phone reports "on" with its backlight.
DWORD state_flags(std::u16string_view name) {
    struct Known {
        std::u16string_view name;
        DWORD flags;
    };
    static constexpr Known known[] = {
        {u"on", POWER_STATE_ON | POWER_STATE_BACKLIGHTON},
        {u"backlightoff", POWER_STATE_ON},
        {u"useridle", POWER_STATE_USERIDLE},
        {u"screenoff", POWER_STATE_IDLE},
        {u"suspend", POWER_STATE_SUSPEND},
        {u"unattended", POWER_STATE_UNATTENDED},
        {u"off", POWER_STATE_OFF},
        {u"critical", POWER_STATE_CRITICAL},
        {u"boot", POWER_STATE_BOOT},
        {u"idle", POWER_STATE_IDLE},
        {u"reset", POWER_STATE_RESET},
    };
    for (const auto& k : known)
        if (k.name == name) return k.flags;
    return 0;
}

// The idle steps in their order, each timed by one of the timeouts.
struct IdleStep {
    std::u16string_view from;
    std::u16string_view to;
    DWORD IdleTimeouts::*timeout;
};
constexpr IdleStep kIdleSteps[] = {
    {u"on", u"backlightoff", &IdleTimeouts::user_idle},
    {u"backlightoff", u"useridle", &IdleTimeouts::system_idle},
    // No step from "useridle": a Smartphone has no suspend of its own, whatever Suspend says.
};

// The timeouts from values read in the order of kPowerTimeouts; a value that is missing,
// or no DWORD, keeps what a new phone has.
PowerTimeouts timeouts_from(std::span<const std::optional<DWORD>> read) {
    const auto get = [&](std::u16string_view name) {
        for (std::size_t i = 0; i < std::size(kPowerTimeouts); ++i)
            if (kPowerTimeouts[i].name == name)
                return i < read.size() && read[i] ? *read[i] : kPowerTimeouts[i].factory;
        assert(!"a timeout of the table");
        return DWORD{0};
    };
    PowerTimeouts t;
    t.ac = {get(u"ACUserIdle"), get(u"ACSystemIdle"), get(u"ACSuspend")};
    t.battery = {get(u"BattUserIdle"), get(u"BattSystemIdle"), get(u"BattSuspend")};
    t.battery_poll = get(u"BatteryPoll");
    return t;
}

// The timeouts as the registry has them now, all read in one snapshot.
PowerTimeouts read_timeouts() {
    std::array<std::u16string_view, std::size(kPowerTimeouts)> names;
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = kPowerTimeouts[i].name;
    return timeouts_from(read_dwords({RegRoot::LocalMachine, kPowerTimeoutsKey}, names));
}

// Whether an event is a change of a value under the timeouts' key.
bool touches_timeouts(const Event& event) {
    const std::string_view ev = event.kind;
    if (ev != "reg.set" && ev != "reg.delete") return false;
    const FieldValue* key = event.fields.find("key");
    if (!key || key->kind() != FieldValue::Kind::Text) return false;
    static const std::string wanted = ascii_lower(format_key_path({RegRoot::LocalMachine, kPowerTimeoutsKey}));
    const std::string changed = ascii_lower(key->text());
    // A deleted parent key takes the timeouts with it.
    return changed == wanted || wanted.starts_with(changed + "\\");
}

long long seconds_ms(DWORD seconds) { return static_cast<long long>(seconds) * 1000; }

class PowerManager final : public Service {
public:
    std::u16string state() const {
        std::lock_guard lock(published_mu_);
        return published_;
    }

    BatteryReading battery() const {
        std::lock_guard lock(mu_);
        const long long now = clock().now_ms();
        return battery_at(now).read(now);
    }

    void start() {
        {
            std::lock_guard lock(mu_);
            if (started_) return;
            started_ = true;
            const long long now = clock().now_ms();
            entered_ms_ = now;
            poll_origin_ms_ = now;
            battery_.emplace(Battery::kFactoryPercent, now);
            told_ = battery_->read(now);
            timeouts_ = read_timeouts();
            {
                const FaultExemption power_manager_itself;
                reload_handle_ = CreateEventW(nullptr, FALSE, FALSE, kReloadEventName);
            }
            {
                std::lock_guard klock(kernel_lock());
                reload_ = object_as<EventObject>(reload_handle_);
                waitables_[1] = reload_.get();
            }
            sink_ = events().add_sink([this](const std::string&, const Event& event) {
                if (touches_timeouts(event)) request_reload();
            });
            rearm();
        }
        // Not under mu_: the services thread takes mu_ while it runs the manager.
        add_service(*this);
    }

    void stop() {
        bool started;
        {
            std::lock_guard lock(mu_);
            started = std::exchange(started_, false);
        }
        if (started) {
            events().remove_sink(sink_);
            remove_service(*this);
        }
        std::lock_guard lock(mu_);
        set_state(u"on");
        override_.reset();
        battery_.reset();
        for (const auto& r : registrations_) detach(r);
        registrations_.clear();
        std::lock_guard klock(kernel_lock());
        deadline_ = kNoDeadline;
        waitables_[1] = nullptr;
        reload_.reset();
        if (reload_handle_) close_handle(reload_handle_);
        reload_handle_ = nullptr;
    }

    void user_activity() {
        std::lock_guard lock(mu_);
        if (state_ != u"on") {
            transition(u"on");
        } else {
            entered_ms_ = clock().now_ms();
            rearm();
        }
    }

    void set_override(std::optional<long long> ms) {
        if (ms && *ms < 0) throw std::invalid_argument("the idle timeout cannot be negative");
        std::lock_guard lock(mu_);
        override_ = ms;
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
        tell_battery();
    }

    void set_battery_percent(int percent) {
        if (percent < 0 || percent > 100) throw std::invalid_argument("a battery level is 0 to 100 percent");
        std::lock_guard lock(mu_);
        const long long now = clock().now_ms();
        battery_at(now).set_percent(percent, now);
        tell_battery();
        rearm();
    }

    void set_charger(bool on) {
        std::lock_guard lock(mu_);
        const long long now = clock().now_ms();
        if (battery_at(now).charger() == on) return;
        battery_->set_charger(on, now);
        // The power source changed: the other timeouts rule from now on.
        broadcast(PBT_POWERSTATUSCHANGE);
        tell_battery();
        rearm();
    }

    int add(std::weak_ptr<MessageQueue> queue, DWORD mask) {
        std::lock_guard lock(mu_);
        Registration r{next_id_++, std::move(queue), mask};
        {
            std::lock_guard klock(kernel_lock());
            if (auto q = r.queue.lock()) ++q->writers;
        }
        registrations_.push_back(std::move(r));
        return registrations_.back().id;
    }

    bool remove(int id) {
        std::lock_guard lock(mu_);
        const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                     [id](const Registration& r) { return r.id == id; });
        if (it == registrations_.end()) return false;
        detach(*it);
        registrations_.erase(it);
        return true;
    }

private:
    struct Registration {
        int id;
        std::weak_ptr<MessageQueue> queue;
        DWORD mask;
    };

    // The services thread asks what the manager waits for: the next deadline, a reload,
    // or a word that the deadline has moved.
    Waits waits() override {
        assert(kernel_lock().held());
        return {std::span<Waitable* const>(waitables_.data(), reload_ ? 2 : 1), deadline_, -1};
    }

    void run(int woken) override {
        const bool reload = woken == 1 || reload_requested_.exchange(false);
        if (woken != kWaitTimeout && !reload) return;
        step(reload);
    }

    // Called from any thread, with any lock of the registry held: only leaves word.
    void request_reload() {
        reload_requested_ = true;
        std::lock_guard klock(kernel_lock());
        wake_->set();
        clock().wake_waiters();
    }

    void step(bool reload) {
        std::lock_guard lock(mu_);
        if (reload) timeouts_ = read_timeouts();
        const long long now = clock().now_ms();
        if (const long long due = poll_deadline(); due != kNoDeadline && now >= due) {
            if (battery_at(now).read(now) != told_) tell_battery();
        }
        if (const long long due = idle_deadline(); due != kNoDeadline && now >= due) transition(next_idle_state());
        rearm();
    }

    // The following run with mu_ held.

    const IdleTimeouts& idle_timeouts() const {
        assert(mu_.held());
        return battery_at(clock().now_ms()).charger() ? timeouts_.ac : timeouts_.battery;
    }

    long long idle_deadline() const {
        assert(mu_.held());
        if (override_) return state_ == u"on" && *override_ ? entered_ms_ + **override_ : kNoDeadline;
        for (const IdleStep& s : kIdleSteps) {
            if (s.from != state_) continue;
            const DWORD seconds = idle_timeouts().*s.timeout;
            return seconds ? entered_ms_ + seconds_ms(seconds) : kNoDeadline;
        }
        return kNoDeadline;
    }

    std::u16string next_idle_state() const {
        assert(mu_.held());
        if (override_) return u"useridle";
        for (const IdleStep& s : kIdleSteps)
            if (s.from == state_) return std::u16string(s.to);
        return state_;
    }

    // The first poll, on the grid of BatteryPoll periods since the start, that will read
    // something other than what was last told.
    long long poll_deadline() const {
        assert(mu_.held());
        if (timeouts_.battery_poll == 0) return kNoDeadline;
        const long long now = clock().now_ms();
        const Battery& battery = battery_at(now);
        const long long change = battery.read(now) != told_ ? now : battery.next_change(now);
        if (change < 0) return kNoDeadline;
        const long long period = seconds_ms(timeouts_.battery_poll);
        const long long periods = (change - poll_origin_ms_ + period - 1) / period;
        return poll_origin_ms_ + periods * period;
    }

    void set_state(std::u16string name) {
        assert(mu_.held());
        state_ = std::move(name);
        std::lock_guard lock(published_mu_);
        published_ = state_;
    }

    // Moves the thread's deadline to the earlier of the next idle step and the next
    // battery poll that matters.
    void rearm() {
        assert(mu_.held());
        const long long idle = idle_deadline();
        const long long poll = poll_deadline();
        const long long deadline = idle == kNoDeadline ? poll : poll == kNoDeadline ? idle : std::min(idle, poll);
        std::lock_guard klock(kernel_lock());
        deadline_ = deadline;
        wake_->set();
        clock().wake_waiters();
    }

    void transition(std::u16string name) {
        assert(mu_.held());
        const bool resume = (state_flags(state_) & POWER_STATE_SUSPEND) && name == u"on";
        set_state(std::move(name));
        entered_ms_ = clock().now_ms();
        rearm();
        broadcast(PBT_TRANSITION);
        if (resume) broadcast(PBT_RESUME);
    }

    Battery& battery_at(long long now) const {
        assert(mu_.held());
        if (!battery_) battery_.emplace(Battery::kFactoryPercent, now);
        return *battery_;
    }

    void tell_battery() {
        assert(mu_.held());
        const long long now = clock().now_ms();
        told_ = battery_at(now).read(now);
        broadcast(PBT_POWERINFOCHANGE);
    }

    // A registration's writer reference to its queue ends with it.
    void detach(const Registration& r) {
        std::lock_guard klock(kernel_lock());
        if (auto q = r.queue.lock()) {
            assert(q->writers > 0);
            --q->writers;
            clock().wake_waiters();
        }
    }

    std::vector<std::uint8_t> message_of(DWORD message) const {
        assert(mu_.held());
        constexpr std::size_t header = offsetof(POWER_BROADCAST, SystemPowerState);
        std::vector<std::uint8_t> payload;
        DWORD flags = 0;
        if (message == PBT_TRANSITION) {
            flags = state_flags(state_);
            payload.resize((state_.size() + 1) * sizeof(WCHAR));
            std::memcpy(payload.data(), state_.c_str(), payload.size());
        } else if (message == PBT_POWERINFOCHANGE) {
            POWER_BROADCAST_POWER_INFO info{};
            info.dwNumLevels = 1;
            info.dwBatteryLifeTime = info.dwBatteryFullLifeTime = BATTERY_LIFE_UNKNOWN;
            info.dwBackupBatteryLifeTime = info.dwBackupBatteryFullLifeTime = BATTERY_LIFE_UNKNOWN;
            info.bACLineStatus = told_.ac_line ? AC_LINE_ONLINE : AC_LINE_OFFLINE;
            info.bBatteryFlag = told_.flag;
            info.bBatteryLifePercent = static_cast<BYTE>(told_.percent);
            info.bBackupBatteryFlag = BATTERY_FLAG_NO_BATTERY;
            info.bBackupBatteryLifePercent = BATTERY_PERCENTAGE_UNKNOWN;
            payload.resize(sizeof(info));
            std::memcpy(payload.data(), &info, sizeof(info));
        }
        const POWER_BROADCAST head{message, flags, static_cast<DWORD>(payload.size()), {0}};
        std::vector<std::uint8_t> bytes(std::max(sizeof(POWER_BROADCAST), header + payload.size()));
        std::memcpy(bytes.data(), &head, header);
        if (!payload.empty()) std::memcpy(bytes.data() + header, payload.data(), payload.size());
        return bytes;
    }

    // One notification to every queue whose registration's mask covers it; a queue
    // that is full or gone misses it, as on the platform.
    void broadcast(DWORD message) {
        assert(mu_.held());
        Fields fields{{"state", to_utf8(state_)}, {"mask", message}};
        if (message == PBT_POWERINFOCHANGE) {
            fields.set("battery", told_.percent);
            fields.set("charger", told_.ac_line);
            fields.set("charging", told_.charging());
        }
        events().emit("power", std::move(fields));
        const std::vector<std::uint8_t> bytes = message_of(message);
        std::lock_guard klock(kernel_lock());
        for (const auto& r : registrations_) {
            if (!(r.mask & message)) continue;
            if (auto queue = r.queue.lock()) write_message(*queue, bytes);
        }
        clock().wake_waiters();
    }

    // mu_ serialises state changes and broadcasts; it is taken before the kernel lock
    // and before the registry's. published_mu_ only guards a copy of the name for
    // readers, so that they (event sinks included) never wait for a broadcast.
    mutable CheckedMutex mu_;
    mutable std::mutex published_mu_;
    std::u16string state_ = u"on";
    std::u16string published_ = u"on";
    long long entered_ms_ = 0;  // when the state was entered; in "on", the last key
    std::optional<std::optional<long long>> override_;  // `device idle-timeout`
    PowerTimeouts timeouts_ = timeouts_from({});  // read from the registry at each start
    // Empty from a stop until the battery is next looked at: a session that follows in
    // this process sets the clock back to its own origin, and the factory battery it
    // finds starts there, not at the handset time the last session stopped at.
    mutable std::optional<Battery> battery_;
    BatteryReading told_;  // what the queues last heard of the battery
    long long poll_origin_ms_ = 0;
    std::vector<Registration> registrations_;
    int next_id_ = 1;
    bool started_ = false;
    HANDLE reload_handle_ = nullptr;
    int sink_ = 0;
    std::atomic<bool> reload_requested_{false};

    // Kernel lock.
    std::shared_ptr<EventObject> wake_ = std::make_shared<EventObject>(false, false);
    std::shared_ptr<EventObject> reload_;
    std::array<Waitable*, 2> waitables_{wake_.get(), nullptr};  // wake_, then reload_
    long long deadline_ = kNoDeadline;
};

// Never destroyed: the services thread may still be waiting when the process exits.
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
void set_idle_timeout(std::optional<long long> ms) { power_manager().set_override(ms); }
BatteryReading battery_reading() { return power_manager().battery(); }
void set_battery_percent(int percent) { power_manager().set_battery_percent(percent); }
void set_charger(bool on) { power_manager().set_charger(on); }

}  // namespace handset

using namespace handset;

HANDLE RequestPowerNotifications(HANDLE queue, DWORD mask) {
    // A null handle and one that is no message queue are the same invalid parameter.
    auto object = queue ? object_as<MsgQueueObject>(queue) : nullptr;
    if (!object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (fault_active(Fault::PowerNotify)) {
        SetLastError(kErrorServiceNotActive);
        return nullptr;
    }
    const int id = power_manager().add(object->queue(), mask);
    return make_handle(std::make_shared<PowerNotifyObject>(id));
}

DWORD StopPowerNotifications(HANDLE notifications) {
    if (!notifications) return ERROR_INVALID_PARAMETER;
    auto object = object_as<PowerNotifyObject>(notifications);
    if (!object) return ERROR_FILE_NOT_FOUND;
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
