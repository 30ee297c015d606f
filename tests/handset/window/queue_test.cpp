// Message queues under the virtual clock: timer rhythm, coalescing while the thread is
// busy, rescheduling after a blocked stretch, messages sent across threads, the quit
// message, and keys reaching the foreground window's thread.
#include <atomic>

#include "window_fixture.h"

namespace {

using handset::Json;

// A plain window on its own thread that records every WM_TIMER's time. On the tick
// numbered `busy_tick` (1-based) it blocks its thread for `busy_ms`.
struct TimerWindow {
    int busy_tick = 0;
    long long busy_ms = 0;
    std::mutex mu;
    std::vector<long long> ticks;
    std::atomic<HWND> hwnd{nullptr};

    std::vector<long long> recorded() {
        std::lock_guard lock(mu);
        return ticks;
    }

    void run() {
        hwnd = handset::create_top_level_window(u"timers", [this](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m != WM_TIMER) return handset::default_window_proc(h, m, w, l);
            int n;
            {
                std::lock_guard lock(mu);
                ticks.push_back(handset::clock().now_ms());
                n = static_cast<int>(ticks.size());
            }
            if (n == busy_tick) Sleep(static_cast<DWORD>(busy_ms));
            return 0;
        });
        SetTimer(hwnd, 7, 100, nullptr);
        handset::run_message_loop();
    }
};

struct RhythmCase {
    const char* name;
    int busy_tick;
    long long busy_ms;
    std::vector<long long> expected;  // tick times up to 1420 ms
};

class TimerRhythm : public WindowTest, public ::testing::WithParamInterface<RhythmCase> {};

TEST_P(TimerRhythm, TicksOnTheWindowsThreadWithoutCatchUpBursts) {
    const RhythmCase& c = GetParam();
    TimerWindow window;
    window.busy_tick = c.busy_tick;
    window.busy_ms = c.busy_ms;
    auto ui = start_ui([&] { window.run(); });
    wait_idle();
    sleep(1420);
    EXPECT_EQ(window.recorded(), c.expected);
    PostMessageW(window.hwnd, WM_CLOSE, 0, 0);
    join(ui);
}

INSTANTIATE_TEST_SUITE_P(
    Timers, TimerRhythm,
    ::testing::Values(
        RhythmCase{"steady", 0, 0, {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100, 1200, 1300, 1400}},
        // A short busy spell keeps the rhythm: the expiry at 400 waits for the thread.
        RhythmCase{"short_busy", 3, 50, {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100, 1200, 1300, 1400}},
        // Expiries at 400 and 500 fall while the thread is busy: one tick when it is
        // free again, and the next period counts from then.
        RhythmCase{"coalesced", 3, 250, {100, 200, 300, 550, 650, 750, 850, 950, 1050, 1150, 1250, 1350}},
        // Blocked for a second: one tick at 1100, not nine catch-up ticks.
        RhythmCase{"blocked", 1, 1000, {100, 1100, 1200, 1300, 1400}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, KillTimerStopsTicksAndBothAreEvents) {
    TimerWindow window;
    auto ui = start_ui([&] { window.run(); });
    wait_idle();
    sleep(250);
    const BOOL killed = KillTimer(window.hwnd, 7);
    const BOOL unknown = KillTimer(window.hwnd, 8);
    sleep(1000);
    EXPECT_TRUE(killed);
    EXPECT_FALSE(unknown);
    EXPECT_EQ(window.recorded(), (std::vector<long long>{100, 200}));
    EXPECT_EQ(events("timer.set").at(0)["id"], 7);
    EXPECT_EQ(events("timer.set").at(0)["ms"], 100);
    ASSERT_EQ(events("timer.kill").size(), 1u);
    EXPECT_EQ(events("timer.kill")[0]["id"], 7);
    PostMessageW(window.hwnd, WM_CLOSE, 0, 0);
    join(ui);
}

TEST_F(WindowTest, SettingATimerAgainRestartsItsPeriod) {
    TimerWindow window;
    auto ui = start_ui([&] { window.run(); });
    wait_idle();
    sleep(150);
    SetTimer(window.hwnd, 7, 300, nullptr);  // at 150: next expiry at 450
    sleep(800);
    EXPECT_EQ(window.recorded(), (std::vector<long long>{100, 450, 750}));
    PostMessageW(window.hwnd, WM_CLOSE, 0, 0);
    join(ui);
}

TEST_F(WindowTest, SendMessageRunsOnTheReceiversThreadAndServesSendsBackToTheSender) {
    // The test thread owns a window too: while it waits in SendMessageW, the other
    // thread sends to it, which must be handled inside that wait.
    DWORD test_tid = GetCurrentThreadId();
    std::atomic<DWORD> handled_on{0};
    HWND mine = handset::create_top_level_window(u"sender", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_USER + 2) {
            handled_on = GetCurrentThreadId();
            return 7;
        }
        return handset::default_window_proc(h, m, w, l);
    });
    std::atomic<HWND> theirs{nullptr};
    std::atomic<DWORD> ui_tid{0}, served_on{0};
    auto ui = start_ui([&] {
        ui_tid = GetCurrentThreadId();
        theirs = handset::create_top_level_window(u"receiver", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == WM_USER + 1) {
                served_on = GetCurrentThreadId();
                return static_cast<LRESULT>(w) * 2 + SendMessageW(mine, WM_USER + 2, 0, 0);
            }
            return handset::default_window_proc(h, m, w, l);
        });
        handset::run_message_loop();
    });
    wait_idle();
    EXPECT_EQ(SendMessageW(theirs, WM_USER + 1, 5, 0), 17);
    EXPECT_EQ(served_on.load(), ui_tid.load());
    EXPECT_EQ(handled_on.load(), test_tid);
    EXPECT_NE(ui_tid.load(), test_tid);

    PostMessageW(theirs, WM_CLOSE, 0, 0);
    join(ui);
    EXPECT_FALSE(IsWindow(theirs));
    EXPECT_EQ(SendMessageW(theirs, WM_USER + 1, 5, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(DestroyWindow(mine));
}

TEST_F(WindowTest, PostedMessagesComeInOrderAndQuitEndsTheLoopAfterThem) {
    std::vector<WPARAM> seen;
    std::atomic<int> code{0};
    std::atomic<HWND> hwnd{nullptr};
    auto ui = start_ui([&] {
        hwnd = handset::create_top_level_window(u"posts", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == WM_APP) {
                PostMessageW(h, WM_USER, 1, 0);
                PostMessageW(h, WM_USER, 2, 0);
                PostQuitMessage(42);
                PostMessageW(h, WM_USER, 3, 0);
            }
            if (m == WM_USER) seen.push_back(w);
            return handset::default_window_proc(h, m, w, l);
        });
        code = handset::run_message_loop();
        DestroyWindow(hwnd);
    });
    wait_idle();
    SendMessageW(hwnd, WM_APP, 0, 0);
    join(ui);
    // The quit comes after every message posted, even those posted after it.
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2, 3}));
    EXPECT_EQ(code.load(), 42);
}

TEST_F(WindowTest, KeysGoToTheForegroundWindowsThreadOrAreLeftForTheHomeScreen) {
    std::vector<std::pair<UINT, WPARAM>> keys;
    std::vector<std::pair<BYTE, bool>> home;  // the keys no window took
    const auto press_key = [&](BYTE vk) {
        for (const bool up : {false, true})
            if (!handset::deliver_key(vk, up)) home.emplace_back(vk, up);
        handset::settle_input();
    };
    std::atomic<HWND> hwnd{nullptr};
    auto ui = start_ui([&] {
        hwnd = handset::create_top_level_window(u"keys", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == WM_KEYDOWN || m == WM_KEYUP) keys.emplace_back(m, w);
            if (m == WM_KEYUP && w == VK_ESCAPE) ShowWindow(h, SW_MINIMIZE);
            return handset::default_window_proc(h, m, w, l);
        });
        handset::run_message_loop();
    });
    wait_idle();
    EXPECT_EQ(handset::foreground_window(), hwnd.load());
    EXPECT_EQ(GetForegroundWindow(), hwnd.load());
    press_key('5');
    press_key(VK_ESCAPE);  // the window minimises itself: hidden, nothing of this host in front
    EXPECT_EQ(handset::foreground_window(), nullptr);
    press_key(VK_RETURN);
    EXPECT_EQ(keys, (std::vector<std::pair<UINT, WPARAM>>{
                        {WM_KEYDOWN, '5'}, {WM_KEYUP, '5'}, {WM_KEYDOWN, VK_ESCAPE}, {WM_KEYUP, VK_ESCAPE}}));
    EXPECT_EQ(home, (std::vector<std::pair<BYTE, bool>>{{VK_RETURN, false}, {VK_RETURN, true}}));
    ASSERT_EQ(events("window.hide").size(), 1u);
    EXPECT_EQ(events("window.hide")[0]["title"], "keys");

    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    join(ui);
}

TEST_F(WindowTest, WaitForInputIdleReturnsFalseWhenTheProgramEndsFirst) {
    auto process = handset::new_emulated_process(u"\\Windows\\quick.exe");
    ASSERT_NE(process, nullptr);
    auto ui = start_ui([process] {
        handset::set_current_process(process);
        std::lock_guard lock(handset::kernel_lock());
        process->finish(0);
        handset::clock().wake_waiters();
    });
    EXPECT_FALSE(handset::wait_for_input_idle(process->pid));
    join(ui);
}

}  // namespace
