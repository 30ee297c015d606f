// The power manager: broadcasts into message queues, the idle countdown, the
// platform's queue and notification calls.
#include <algorithm>
#include <cstring>
#include <string>

#include "handset/devices/device_fixture.h"

namespace {

constexpr DWORD kMask = PBT_TRANSITION | PBT_RESUME | PBT_POWERINFOCHANGE;  // 11

// The queue the program's power watch creates.
HANDLE program_queue(DWORD max_messages = 4) {
    MSGQUEUEOPTIONS options{sizeof(MSGQUEUEOPTIONS), MSGQUEUE_NOPRECOMMIT, max_messages, 536, TRUE};
    return CreateMsgQueue(nullptr, &options);
}

struct Notification {
    DWORD message = 0;
    DWORD flags = 0;
    DWORD length = 0;
    std::u16string name;  // a transition's, without its terminator
};

// Reads one notification; nothing when the read fails.
std::optional<Notification> read(HANDLE queue, DWORD timeout_ms) {
    alignas(POWER_BROADCAST) std::uint8_t buffer[536];
    DWORD size = 0, flags = 0;
    if (!ReadMsgQueue(queue, buffer, sizeof(buffer), &size, timeout_ms, &flags)) return std::nullopt;
    POWER_BROADCAST header;
    std::memcpy(&header, buffer, offsetof(POWER_BROADCAST, SystemPowerState));
    // Length counts what follows the header; a message is never shorter than the record.
    EXPECT_EQ(size, std::max(sizeof(POWER_BROADCAST), offsetof(POWER_BROADCAST, SystemPowerState) + header.Length));
    Notification n{header.Message, header.Flags, header.Length, {}};
    if (header.Message == PBT_TRANSITION) {
        n.name.resize(header.Length / sizeof(WCHAR));
        std::memcpy(n.name.data(), buffer + offsetof(POWER_BROADCAST, SystemPowerState), header.Length);
        EXPECT_TRUE(!n.name.empty() && n.name.back() == u'\0') << "the name's terminator is counted";
        if (!n.name.empty()) n.name.pop_back();
    }
    return n;
}

class PowerTest : public DeviceTest {
protected:
    void TearDown() override {
        for (HANDLE q : queues_) CloseMsgQueue(q);
        DeviceTest::TearDown();
    }
    // A program queue that the test's end closes.
    HANDLE make_queue(DWORD max_messages = 4) {
        HANDLE q = program_queue(max_messages);
        if (q) queues_.push_back(q);
        return q;
    }

private:
    std::vector<HANDLE> queues_;
};

TEST_F(PowerTest, TransitionReachesQueueRegisteredWithMask11) {
    HANDLE queue = make_queue();
    ASSERT_NE(queue, nullptr);
    HANDLE notifications = RequestPowerNotifications(queue, kMask);
    ASSERT_NE(notifications, nullptr);
    // A queue registered for power information only does not hear transitions.
    HANDLE info_queue = make_queue();
    HANDLE info_only = RequestPowerNotifications(info_queue, PBT_POWERINFOCHANGE);

    handset::power_set_state(u"useridle");

    auto n = read(queue, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->message, PBT_TRANSITION);
    EXPECT_EQ(n->flags, POWER_STATE_USERIDLE);
    EXPECT_EQ(n->name, u"useridle");
    EXPECT_FALSE(read(queue, 0)) << "one broadcast, one message";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_FALSE(read(info_queue, 0));

    WCHAR name[260];
    DWORD flags = 0;
    ASSERT_EQ(GetSystemPowerState(name, 260, &flags), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(std::u16string(name), u"useridle");
    EXPECT_EQ(flags, POWER_STATE_USERIDLE);

    const auto power = events("power");
    ASSERT_EQ(power.size(), 1u);
    EXPECT_EQ(power[0]["state"], "useridle");
    EXPECT_EQ(power[0]["mask"], 1);

    EXPECT_EQ(StopPowerNotifications(notifications), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(StopPowerNotifications(info_only), static_cast<DWORD>(ERROR_SUCCESS));
    handset::power_set_state(u"on");
    EXPECT_FALSE(read(queue, 0)) << "no delivery after StopPowerNotifications";
    EXPECT_EQ(StopPowerNotifications(notifications), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(StopPowerNotifications(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PowerTest, PowerInformationChangeLeavesTheStateAlone) {
    HANDLE queue = make_queue();
    RequestPowerNotifications(queue, kMask);
    handset::power_info();
    auto n = read(queue, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->message, PBT_POWERINFOCHANGE);
    EXPECT_EQ(n->length, sizeof(POWER_BROADCAST_POWER_INFO));
    EXPECT_EQ(handset::power_state(), u"on");
    const auto power = events("power");
    ASSERT_EQ(power.size(), 1u);
    EXPECT_EQ(power[0]["state"], "on");
    EXPECT_EQ(power[0]["mask"], 8);
}

TEST_F(PowerTest, WaiterOnQueueAndEventWakesForTheOneSignalled) {
    HANDLE queue = make_queue();
    RequestPowerNotifications(queue, kMask);
    HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    struct Result {
        HANDLE handles[2];
        DWORD first = 99, second = 99;
        long long first_at = -1;
    } result{{queue, stop}};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* r = static_cast<Result*>(p);
            r->first = WaitForMultipleObjects(2, r->handles, FALSE, INFINITE);
            r->first_at = handset::clock().now_ms();
            alignas(POWER_BROADCAST) std::uint8_t buffer[536];
            DWORD size = 0, flags = 0;
            while (ReadMsgQueue(r->handles[0], buffer, sizeof(buffer), &size, 0, &flags)) {
            }
            r->second = WaitForMultipleObjects(2, r->handles, FALSE, INFINITE);
            return 0;
        },
        &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);

    const long long start = now();
    sleep(1000);
    handset::power_info();
    sleep(1000);
    SetEvent(stop);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(result.first, WAIT_OBJECT_0) << "the queue is the first handle";
    EXPECT_EQ(result.first_at, start + 1000);
    EXPECT_EQ(result.second, WAIT_OBJECT_0 + 1) << "the emptied queue no longer signals";
    CloseHandle(thread);
    CloseHandle(stop);
}

TEST_F(PowerTest, IdleTimeoutsDimThenBlankAndAKeyBringsOn) {
    HANDLE queue = make_queue();
    RequestPowerNotifications(queue, kMask);
    const long long start = now();

    // On battery a new phone's backlight goes out 30 s after the last key, and the
    // screen 30 s after that. A key press 10 s in starts the count again.
    sleep(10000);
    handset::press_physical_key(VK_TSOFT2);
    auto n = read(queue, INFINITE);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->name, u"backlightoff");
    EXPECT_EQ(n->flags, POWER_STATE_ON);
    EXPECT_EQ(now(), start + 40000);
    n = read(queue, INFINITE);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->name, u"useridle");
    EXPECT_EQ(n->flags, POWER_STATE_USERIDLE);
    EXPECT_EQ(now(), start + 70000);
    EXPECT_EQ(handset::power_state(), u"useridle");

    sleep(5000);
    keybd_event(VK_TSOFT1, 0, KEYEVENTF_SILENT, 0);
    n = read(queue, 0);
    ASSERT_TRUE(n) << "the key itself brings the phone back";
    EXPECT_EQ(n->message, PBT_TRANSITION);
    EXPECT_EQ(n->flags, POWER_STATE_ON | POWER_STATE_BACKLIGHTON);
    EXPECT_EQ(n->name, u"on");

    n = read(queue, INFINITE);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->name, u"backlightoff");
    EXPECT_EQ(now(), start + 75000 + 30000);
}

TEST_F(PowerTest, IdleTimeoutCanBeChangedOrSwitchedOff) {
    HANDLE queue = make_queue();
    RequestPowerNotifications(queue, kMask);
    handset::set_idle_timeout(std::nullopt);
    EXPECT_FALSE(read(queue, 600000)) << "never idle with the timeout off";
    EXPECT_EQ(handset::power_state(), u"on");

    const long long start = now();
    handset::press_physical_key('5');
    handset::set_idle_timeout(2000);
    auto n = read(queue, INFINITE);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->name, u"useridle");
    EXPECT_EQ(now(), start + 2000);
    EXPECT_THROW(handset::set_idle_timeout(-1), std::invalid_argument);
}

TEST_F(PowerTest, PowerButtonWakesOnlyWhenNotOn) {
    HANDLE queue = make_queue();
    RequestPowerNotifications(queue, kMask);
    handset::power_button();
    EXPECT_FALSE(read(queue, 0)) << "already on: nothing to broadcast";

    handset::power_set_state(u"useridle");
    read(queue, 0);
    handset::power_button();
    auto n = read(queue, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->name, u"on");

    // From a suspend the phone resumes: the transition to "on", then PBT_RESUME, which
    // carries no state.
    handset::power_set_state(u"suspend");
    read(queue, 0);
    handset::power_button();
    n = read(queue, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->message, PBT_TRANSITION);
    EXPECT_EQ(n->name, u"on");
    n = read(queue, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->message, PBT_RESUME);
    EXPECT_EQ(n->length, 0u);

    // Setting a state broadcasts it even when it does not change.
    handset::power_set_state(u"on");
    n = read(queue, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->name, u"on");
}

TEST_F(PowerTest, FullQueueDropsNewMessages) {
    HANDLE queue = make_queue(2);
    RequestPowerNotifications(queue, kMask);
    handset::power_set_state(u"useridle");
    handset::power_set_state(u"on");
    handset::power_set_state(u"unattended");
    EXPECT_EQ(read(queue, 0)->name, u"useridle");
    EXPECT_EQ(read(queue, 0)->name, u"on");
    EXPECT_FALSE(read(queue, 0));
    EXPECT_EQ(events("power").size(), 3u) << "the broadcast happened all the same";
}

TEST_F(PowerTest, ReadMsgQueueConsumesAMessageTooLargeForTheBuffer) {
    HANDLE queue = make_queue();
    RequestPowerNotifications(queue, kMask);
    handset::power_set_state(u"useridle");
    handset::power_set_state(u"on");
    std::uint8_t small[8];
    std::memset(small, 0xEE, sizeof small);
    DWORD size = 0, flags = 0;
    EXPECT_FALSE(ReadMsgQueue(queue, small, sizeof(small), &size, 0, &flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, sizeof small) << "what fits is copied";
    EXPECT_EQ(small[0], PBT_TRANSITION);
    EXPECT_EQ(read(queue, 0)->name, u"on") << "the long message is gone, so a read loop moves on";
}

TEST_F(PowerTest, ReadMsgQueueTimesOutOnTheHandsetClock) {
    HANDLE queue = make_queue();
    HANDLE notifications = RequestPowerNotifications(queue, kMask);  // a writer, so reads wait
    std::uint8_t buffer[64];
    DWORD size = 0, flags = 0;
    const long long start = now();
    EXPECT_FALSE(ReadMsgQueue(queue, buffer, sizeof(buffer), &size, 0, &flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(now(), start);
    EXPECT_FALSE(ReadMsgQueue(queue, buffer, sizeof(buffer), &size, 2500, &flags));
    EXPECT_EQ(now(), start + 2500);
    EXPECT_FALSE(ReadMsgQueue(reinterpret_cast<HANDLE>(0x7777), buffer, sizeof(buffer), &size, 0, &flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // Without a writer an empty queue has nothing to wait for.
    StopPowerNotifications(notifications);
    EXPECT_FALSE(ReadMsgQueue(queue, buffer, sizeof(buffer), &size, INFINITE, &flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
    EXPECT_EQ(now(), start + 2500);
}

TEST_F(PowerTest, QueueAndNotificationFailures) {
    MSGQUEUEOPTIONS bad{19, 0, 4, 536, TRUE};
    EXPECT_EQ(CreateMsgQueue(nullptr, &bad), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateMsgQueue(nullptr, nullptr), nullptr);

    handset::set_fault(handset::Fault::PowerMsgQueue, true);
    EXPECT_EQ(program_queue(), nullptr);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    handset::set_fault(handset::Fault::PowerMsgQueue, false);

    HANDLE queue = make_queue();
    ASSERT_NE(queue, nullptr);
    handset::set_fault(handset::Fault::PowerNotify, true);
    EXPECT_EQ(RequestPowerNotifications(queue, kMask), nullptr);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    handset::set_fault(handset::Fault::PowerNotify, false);
    EXPECT_EQ(RequestPowerNotifications(nullptr, kMask), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    WCHAR tiny[2];
    EXPECT_EQ(GetSystemPowerState(tiny, 2, nullptr), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    WCHAR exact[3];
    EXPECT_EQ(GetSystemPowerState(exact, 3, nullptr), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(std::u16string(exact), u"on");
    EXPECT_THROW(handset::power_set_state(u""), std::invalid_argument);
}

TEST_F(PowerTest, NamedQueueIsSharedBetweenItsHandles) {
    MSGQUEUEOPTIONS reader{sizeof(MSGQUEUEOPTIONS), 0, 0, 64, TRUE};
    MSGQUEUEOPTIONS writer{sizeof(MSGQUEUEOPTIONS), 0, 0, 64, FALSE};
    HANDLE r = CreateMsgQueue(u"PowerQ", &reader);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE w = CreateMsgQueue(u"powerq", &writer);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    // Notifications registered through either handle land in the one queue.
    RequestPowerNotifications(w, kMask);
    handset::power_info();
    EXPECT_EQ(WaitForSingleObject(r, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(read(r, 0));
    std::uint8_t buffer[64];
    DWORD size = 0;
    EXPECT_FALSE(ReadMsgQueue(w, buffer, sizeof(buffer), &size, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseMsgQueue(w);
    CloseMsgQueue(r);
    HANDLE again = CreateMsgQueue(u"PowerQ", &reader);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "the name went with its last handle";
    CloseMsgQueue(again);
}

}  // namespace

namespace {

// The battery over handset time: a level that drains on battery and fills on the
// charger, one whole percent at a time, with the flag the driver reports for it.
TEST(Battery, LevelsAndFlagsOverTime) {
    using handset::Battery;
    using handset::BatteryReading;
    constexpr long long kDrain = Battery::kDrainStepMs, kFill = Battery::kFillStepMs;
    struct Case {
        int start;
        bool charger;
        long long after_ms;
        int percent;
        BYTE flag;
        long long next;  // the next change, from the step's start; -1: none
    };
    const Case cases[] = {
        {80, false, 0, 80, BatteryReading::kHigh, kDrain},
        {80, false, kDrain - 1, 80, BatteryReading::kHigh, kDrain},
        {80, false, kDrain, 79, BatteryReading::kHigh, 2 * kDrain},
        {21, false, kDrain, 20, BatteryReading::kLow, 2 * kDrain},
        {6, false, kDrain, 5, BatteryReading::kCritical, 2 * kDrain},
        {1, false, 5 * kDrain, 0, BatteryReading::kCritical, -1},
        {80, true, kFill, 81, BatteryReading::kHigh | BatteryReading::kCharging, 2 * kFill},
        {99, true, kFill, 100, BatteryReading::kHigh, -1},  // full: no longer charging
        {3, true, 0, 3, BatteryReading::kCritical | BatteryReading::kCharging, kFill},
    };
    for (const Case& c : cases) {
        Battery battery(c.start, 0);
        battery.set_charger(c.charger, 0);
        const BatteryReading r = battery.read(c.after_ms);
        const std::string name = std::to_string(c.start) + (c.charger ? "% charging, " : "% on battery, ") +
                                 std::to_string(c.after_ms) + " ms";
        EXPECT_EQ(r.percent, c.percent) << name;
        EXPECT_EQ(r.ac_line, c.charger) << name;
        EXPECT_EQ(r.flag, c.flag) << name;
        EXPECT_EQ(battery.next_change(c.after_ms), c.next) << name;
    }
}

// What the program's queue hears from the battery: each change of level, charger or
// flag, with the record the platform documents.
TEST_F(PowerTest, BatteryChangesAreToldAsPowerInformation) {
    HANDLE queue = make_queue(8);
    RequestPowerNotifications(queue, kMask);
    const auto info = [&]() -> std::optional<POWER_BROADCAST_POWER_INFO> {
        alignas(POWER_BROADCAST) std::uint8_t buffer[536];
        DWORD size = 0, flags = 0;
        while (ReadMsgQueue(queue, buffer, sizeof buffer, &size, 0, &flags)) {
            POWER_BROADCAST head;
            std::memcpy(&head, buffer, offsetof(POWER_BROADCAST, SystemPowerState));
            if (head.Message != PBT_POWERINFOCHANGE) continue;
            POWER_BROADCAST_POWER_INFO record;
            std::memcpy(&record, buffer + offsetof(POWER_BROADCAST, SystemPowerState), sizeof record);
            return record;
        }
        return std::nullopt;
    };
    handset::set_battery_percent(21);
    auto r = info();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->bBatteryLifePercent, 21);
    EXPECT_EQ(r->bACLineStatus, AC_LINE_OFFLINE);
    EXPECT_EQ(r->bBatteryFlag, BATTERY_FLAG_HIGH);

    // The level drains on its own; the next step crosses into "low", told at a poll.
    sleep(handset::Battery::kDrainStepMs + 5000);  // read at the next battery poll
    r = info();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->bBatteryLifePercent, 20);
    EXPECT_EQ(r->bBatteryFlag, BATTERY_FLAG_LOW);

    handset::set_charger(true);
    r = info();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->bACLineStatus, AC_LINE_ONLINE);
    EXPECT_EQ(r->bBatteryFlag, BATTERY_FLAG_LOW | BATTERY_FLAG_CHARGING);
    EXPECT_FALSE(info()) << "one change, one message";
    const auto power = events("power");
    ASSERT_FALSE(power.empty());
    EXPECT_EQ(power.back()["battery"], 20);
    EXPECT_EQ(power.back()["charging"], true);
}

// A session that follows another in the same process sets the clock back to its origin.
// The battery it finds is the factory one, wherever the last session left the level and
// whatever handset time it stopped at.
TEST_F(PowerTest, TheNextSessionsEarlierClockFindsTheFactoryBattery) {
    const long long origin = now();
    handset::set_battery_percent(21);
    sleep(3 * handset::Battery::kDrainStepMs);
    handset::stop_device_services();
    handset::clock().configure(handset::ClockKind::Virtual, 1.0, origin);
    const handset::BatteryReading fresh = handset::battery_reading();
    EXPECT_EQ(fresh.percent, handset::Battery::kFactoryPercent);
    EXPECT_EQ(fresh.flag, handset::BatteryReading::kHigh);
    sleep(handset::Battery::kDrainStepMs);
    EXPECT_EQ(handset::battery_reading().percent, handset::Battery::kFactoryPercent - 1) << "and drains from there";
}

}  // namespace
