// The power watch and the automatic key lock: the idle count, the lock on the tick
// after the limit, the unlock on a wake-up from "useridle", and the watch thread.
#include <thread>

#include "platform/handset/devices/devices.h"
#include "program/program_fixture.h"
#include "watch/power_watch.h"

namespace progtest {
namespace {

using seqtest::Expected;

Expected Key(int vk, bool up) { return {"key", {{"vk", vk}, {"up", up}, {"silent", true}, {"source", "inject"}}}; }
const std::vector<Expected> kUnlockKeys = {Key(112, false), Key(112, true), Key(119, false), Key(119, true)};

class KeyLock : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        LoadAppSettings();  // every flag on
        AppSettings.keylockTimeoutTicks = 10;
        TakeEvents();
    }
    // The platform enters a state and the watch thread sees its notification.
    static void Enter(const std::u16string& state) {
        handset::power_set_state(state);
        OnPowerStateChange();
    }
    static void Set(LPCWSTR key, LPCWSTR name, DWORD value) { SetDword(HKEY_LOCAL_MACHINE, key, name, value); }
    static void SetLock(DWORD value) { Set(u"System\\State", u"Lock", value); }
    // Runs `count` key-lock ticks; returns the numbers (from 1) of those that pressed a key.
    std::vector<int> RunTicks(int count) {
        std::vector<int> pressed;
        for (int i = 1; i <= count; ++i) {
            CheckAutoKeylock();
            if (!seqtest::OfKinds(TakeEvents(), {"key"}).empty()) pressed.push_back(i);
        }
        return pressed;
    }
    void ExpectNoKeys(const std::string& context) { seqtest::ok_seq_of(TakeEvents(), {}, {"key"}, context); }
};

TEST_F(KeyLock, LocksOnTheEleventhTickAfterEnteringUseridle) {
    Enter(u"useridle");
    for (int i = 0; i < 10; ++i) CheckAutoKeylock();
    ExpectNoKeys("ten ticks");
    CheckAutoKeylock();
    seqtest::ok_seq(TakeEvents(), {Key(133, false), Key(133, true), {"vibrate", {{"ms", 50}}}}, "lock");
    EXPECT_EQ(g_strLastPowerState.get(), u"on") << "recorded before the key went out";
    EXPECT_TRUE(handset::keypad_locked());
}

TEST_F(KeyLock, NotificationsRestartTheCountAndTheCheckRestartsItself) {
    Enter(u"useridle");
    RunTicks(8);
    Enter(u"useridle");
    EXPECT_TRUE(RunTicks(10).empty());
    handset::power_info();  // a power-information change restarts it as well
    OnPowerStateChange();
    EXPECT_EQ(RunTicks(11), (std::vector<int>{11}));

    SetLock(0);
    Enter(u"useridle");
    AppSettings.EnableAutoKeylock = 0;
    EXPECT_TRUE(RunTicks(30).empty());
    EXPECT_EQ(g_nIdleTicks.load(), 8) << "restarted on ticks 11 and 22";
    AppSettings.EnableAutoKeylock = 1;
    AppSettings.keylockTimeoutTicks = 5;  // a shorter limit applies to the ticks already counted
    EXPECT_EQ(RunTicks(1), (std::vector<int>{1}));
}

TEST_F(KeyLock, TheLockNeedsUseridleAnUnlockedKeypadAndNoCall) {
    Enter(u"on");
    EXPECT_TRUE(RunTicks(22).empty());
    Enter(u"useridle");
    SetLock(2);
    EXPECT_TRUE(RunTicks(11).empty());
    SetLock(0);
    Set(u"System\\State\\Phone", u"Active Call Count", 1);
    EXPECT_TRUE(RunTicks(11).empty());
    Set(u"System\\State\\Phone", u"Active Call Count", 0);
    DeleteValue(HKEY_LOCAL_MACHINE, u"System\\State", u"Lock");
    EXPECT_TRUE(RunTicks(11).empty());
    SetLock(0);
    EXPECT_EQ(RunTicks(11), (std::vector<int>{11})) << "checked again one full period later";
}

TEST_F(KeyLock, WakingFromUseridleUnlocksWithTheKeys300msApart) {
    for (LONG vibrate : {1, 0}) {
        AppSettings.EnableVibrateAlertKeylock = vibrate;
        SetLock(2);
        Enter(u"useridle");
        TakeEvents();
        Enter(u"on");
        const auto events = TakeEvents();
        seqtest::ok_seq(events, kUnlockKeys, "unlock");
        EXPECT_EQ(seqtest::OfKinds(events, {"vibrate"}).size(), vibrate ? 1u : 0u);
        const auto keys = seqtest::OfKinds(events, {"key"});
        EXPECT_EQ(keys[2]["t"].get<long long>() - keys[1]["t"].get<long long>(), 300);
    }
}

TEST_F(KeyLock, NoUnlockWithoutAWakeUpFromUseridle) {
    SetLock(2);
    const std::u16string changes[][2] = {{u"on", u"on"}, {u"useridle", u"useridle"}, {u"useridle", u"suspended"}};
    for (const auto& change : changes) {
        Enter(change[0]);
        Enter(change[1]);
    }
    Enter(u"on");
    ExpectNoKeys("no useridle to on");

    const auto blocked = [&](const std::function<void()>& prepare, const std::string& context) {
        SetLock(2);
        Set(u"System\\State\\Phone", u"Active Call Count", 0);
        AppSettings.EnablePowerKeyUnlock = 1;
        prepare();
        Enter(u"useridle");
        Enter(u"on");
        ExpectNoKeys(context);
    };
    blocked([] { SetLock(3); }, "Lock 3");
    blocked([] { DeleteValue(HKEY_LOCAL_MACHINE, u"System\\State", u"Lock"); }, "Lock unreadable");
    blocked([] { Set(u"System\\State\\Phone", u"Active Call Count", 1); }, "call in progress");
    blocked([] { AppSettings.EnablePowerKeyUnlock = 0; }, "setting off");
    EXPECT_EQ(g_strLastPowerState.get(), u"on") << "recorded even without an unlock";
}

// --- The watch thread -------------------------------------------------------------

class PowerWatch : public KeyLock {
protected:
    void TearDown() override {
        StopPowerWatch();
        KeyLock::TearDown();
    }
    // Lets the watch thread handle what it was sent; handset time, not real time.
    static void Settle() { Sleep(10); }
};

TEST_F(PowerWatch, TheThreadFollowsTheStateAndUnlocksButStartDoesNot) {
    AppSettings.EnablePowerKeyUnlock = 0;  // at start the settings are not loaded yet
    SetLock(2);
    handset::power_set_state(u"useridle");
    g_nIdleTicks = 7;
    StartPowerWatch();
    EXPECT_NE(g_hPowerThread, nullptr);
    EXPECT_EQ(g_strLastPowerState.get(), u"useridle");
    EXPECT_EQ(g_nIdleTicks.load(), 0);
    seqtest::ok_seq_of(TakeEvents(), {}, {"key"}, "start never unlocks");
    Settle();  // the thread subscribes to the notifications
    AppSettings.EnablePowerKeyUnlock = 1;
    handset::power_button();
    Sleep(1000);
    seqtest::ok_seq(TakeEvents(), kUnlockKeys, "unlocked by the thread");
    g_nIdleTicks = 5;
    handset::power_info();
    Settle();
    EXPECT_EQ(g_nIdleTicks.load(), 0);
    StopPowerWatch();
    EXPECT_EQ(g_hPowerThread, nullptr);
    EXPECT_EQ(g_hStopEvent, nullptr);
}

TEST(PowerStateName, ReadersSeeWholeNames) {
    PowerStateName name;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) name.set(i % 2 ? u"useridle" : u"on");
    });
    for (int i = 0; i < 20000; ++i) {
        const std::u16string seen = name.get();
        ASSERT_TRUE(seen.empty() || seen == u"on" || seen == u"useridle");
    }
    stop = true;
    writer.join();
}

}  // namespace
}  // namespace progtest
