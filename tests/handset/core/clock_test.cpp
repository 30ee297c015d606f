// The virtual clock: who wakes when, and how fast hours of handset time pass.
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "platform/handset/core/kernel.h"
#include "platform/winbase.h"

namespace {

struct Trace {
    std::mutex mu;
    std::vector<std::pair<std::string, long long>> entries;
    void add(std::string what) {
        std::lock_guard lock(mu);
        entries.emplace_back(std::move(what), handset::clock().now_ms());
    }
};

using ClockTest = CoreTest;

TEST_F(ClockTest, SleeperAndEventWaiterWakeInOrderAtTheirVirtualTimes) {
    handset::Participation self;
    Trace trace;
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    auto sleeper = handset::start_thread([&] {
        Sleep(3000);
        trace.add("sleeper woke");
        SetEvent(event);
        return 0u;
    });
    auto waiter = handset::start_thread([&] {
        const DWORD r = WaitForSingleObject(event, INFINITE);
        trace.add(r == WAIT_OBJECT_0 ? "waiter signalled" : "waiter failed");
        Sleep(500);
        trace.add("waiter slept");
        return 7u;
    });
    HANDLE threads[] = {handset::make_handle(sleeper), handset::make_handle(waiter)};
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(threads[1], &code));
    EXPECT_EQ(code, 7u);

    const std::vector<std::pair<std::string, long long>> expected{
        {"sleeper woke", 3000}, {"waiter signalled", 3000}, {"waiter slept", 3500}};
    EXPECT_EQ(trace.entries, expected);
    EXPECT_EQ(handset::clock().now_ms(), 3500);
    for (HANDLE h : threads) CloseHandle(h);
    CloseHandle(event);
}

TEST_F(ClockTest, TimeHoldsStillWhileAParticipantRuns) {
    handset::Participation self;
    long long seen = -1;
    auto sleeper = handset::start_thread([&] {
        Sleep(1000);
        seen = handset::clock().now_ms();
        return 0u;
    });
    // This thread is running, so the sleeper's deadline cannot be reached yet.
    EXPECT_EQ(handset::clock().now_ms(), 0);
    HANDLE h = handset::make_handle(sleeper);
    EXPECT_EQ(WaitForSingleObject(h, 200), WAIT_TIMEOUT);
    EXPECT_EQ(handset::clock().now_ms(), 200);
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(seen, 1000);
    CloseHandle(h);
}

TEST_F(ClockTest, AutoResetEventReleasesOneWaiterPerSignal) {
    handset::Participation self;
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    int woken = 0;
    std::mutex mu;
    std::vector<HANDLE> threads;
    for (int i = 0; i < 2; ++i) {
        threads.push_back(handset::make_handle(handset::start_thread([&] {
            if (WaitForSingleObject(event, 1000) == WAIT_OBJECT_0) {
                std::lock_guard lock(mu);
                ++woken;
            }
            return 0u;
        })));
    }
    SetEvent(event);
    ASSERT_EQ(WaitForMultipleObjects(2, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(woken, 1);  // the other one timed out at 1000 ms
    EXPECT_EQ(handset::clock().now_ms(), 1000);
    for (HANDLE h : threads) CloseHandle(h);
    CloseHandle(event);
}

// One change releases more waiters than a thread keeps wakes for until it lets the
// kernel lock go; every one of them must still wake, at the same moment.
TEST_F(ClockTest, AManualResetEventWakesEveryWaiterAtOnce) {
    handset::Participation self;
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    constexpr int kWaiters = 20;
    std::mutex mu;
    std::vector<long long> woken_at;
    std::vector<HANDLE> threads;
    for (int i = 0; i < kWaiters; ++i) {
        threads.push_back(handset::make_handle(handset::start_thread([&] {
            const DWORD r = WaitForSingleObject(event, INFINITE);
            std::lock_guard lock(mu);
            woken_at.push_back(r == WAIT_OBJECT_0 ? handset::clock().now_ms() : -1);
            return 0u;
        })));
    }
    handset::clock().wait_for_rest();  // every waiter blocked
    Sleep(250);
    SetEvent(event);
    ASSERT_EQ(WaitForMultipleObjects(kWaiters, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(woken_at, std::vector<long long>(kWaiters, 250));
    for (HANDLE h : threads) CloseHandle(h);
    CloseHandle(event);
}

// A wait that also watches host descriptors ends on whatever comes first: one of its
// objects, its deadline (time moves on while it only watches), or input on one of the
// descriptors, after which its thread runs again and holds time still until it waits.
// Input comes from outside handset time: this thread, still running, holds time until
// the waiter has seen it.
TEST_F(ClockTest, AWaitOnHostDescriptorsEndsOnWhateverComesFirst) {
    struct Case {
        const char* name;
        bool set_event;
        int input_on;  // descriptor given input, or -1
        int expected;
        long long woken_at;
    };
    const Case cases[] = {
        {"input on the second descriptor", false, 1, handset::kWaitHostInput + 1, 0},
        {"input on the first", false, 0, handset::kWaitHostInput, 0},
        {"the event, then input", true, 0, 0, 0},
        {"nothing: the deadline", false, -1, handset::kWaitTimeout, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        handset::Participation self;
        const long long start = handset::clock().now_ms();
        HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
        const int fds[] = {::eventfd(0, EFD_CLOEXEC), ::eventfd(0, EFD_CLOEXEC)};
        int result = -99;
        long long woken_at = -1, slept_to = -1;
        std::promise<void> woken;
        auto waiter = handset::start_thread([&] {
            auto object = handset::object_as<handset::EventObject>(event);
            handset::Waitable* const objects[] = {object.get()};
            {
                std::unique_lock lock(handset::kernel_lock());
                result = handset::clock().wait(lock, objects, false, start + 5000, fds);
            }
            woken_at = handset::clock().now_ms() - start;
            woken.set_value();
            Sleep(100);
            slept_to = handset::clock().now_ms() - start;
            return 0u;
        });
        handset::clock().wait_for_rest();  // the waiter is blocked
        if (c.set_event) SetEvent(event);
        if (c.input_on >= 0) {
            const std::uint64_t one = 1;
            ASSERT_EQ(::write(fds[c.input_on], &one, sizeof one), 8);
            woken.get_future().wait();
        }
        HANDLE thread = handset::make_handle(waiter);
        ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(woken_at, c.woken_at);
        EXPECT_EQ(slept_to, c.woken_at + 100);
        CloseHandle(thread);
        CloseHandle(event);
        for (int fd : fds) ::close(fd);
    }
}

TEST_F(ClockTest, WaitOnBadHandlesFailsWithInvalidHandle) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7777770), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7777770)));
}

TEST_F(ClockTest, TwentyFourHoursOfThreeSecondSleepsPassQuickly) {
    handset::Participation self;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 28800; ++i) Sleep(3000);
    const auto real = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(handset::clock().now_ms(), 24LL * 3600 * 1000);
    // Generous bound: this guards against real sleeping, not a speed goal.
    EXPECT_LT(std::chrono::duration<double>(real).count(), 5.0);
}

}  // namespace

namespace {

TEST_F(ClockTest, WaitersWithTheSameDeadlineWakeOneAtATimeInTheOrderTheyBegan) {
    handset::Participation self;
    Trace trace;
    std::vector<HANDLE> threads;
    for (const char* name : {"first", "second", "third"}) {
        threads.push_back(handset::make_handle(handset::start_thread([&trace, name] {
            Sleep(3000);
            trace.add(std::string(name) + " begins");
            // Each one runs alone: the next cannot start before this one blocks.
            trace.add(std::string(name) + " ends");
            return 0u;
        })));
        Sleep(0);
    }
    ASSERT_EQ(WaitForMultipleObjects(3, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    ASSERT_EQ(trace.entries.size(), 6u);
    for (std::size_t i = 0; i + 1 < trace.entries.size(); i += 2) {
        const std::string name = trace.entries[i].first.substr(0, trace.entries[i].first.find(' '));
        EXPECT_EQ(trace.entries[i + 1].first, name + " ends");
    }
    for (HANDLE h : threads) CloseHandle(h);
}

}  // namespace
