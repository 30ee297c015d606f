// The keypad's input path and the shell's key lock. With no program window in front,
// the keys that pass the shell reach the home screen's handler, which records them.
#include <utility>
#include <vector>

#include "device_fixture.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/shell/launcher.h"

namespace {

class KeypadTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        set_dword(HKEY_LOCAL_MACHINE, u"System\\State", u"Lock", 0);
        handset::set_home_key_handler([this](BYTE vk, bool up, bool physical) {
            std::lock_guard lock(keys_mu_);
            delivered_.emplace_back(vk, up);
            physical_.push_back(physical);
        });
        clear_events();
    }
    void TearDown() override {
        handset::set_home_key_handler(nullptr);
        DeviceTest::TearDown();
    }

    std::vector<std::pair<int, bool>> delivered() {
        std::lock_guard lock(keys_mu_);
        physical_.clear();
        return std::exchange(delivered_, {});
    }
    // Whether each key delivered since the last delivered() was the user's press.
    std::vector<bool> physical() {
        std::lock_guard lock(keys_mu_);
        return physical_;
    }
    static void press_silently(BYTE vk) {
        keybd_event(vk, 0, KEYEVENTF_SILENT, 0);
        keybd_event(vk, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
    }
    std::optional<DWORD> lock_value() { return get_dword(HKEY_LOCAL_MACHINE, u"System\\State", u"Lock"); }

    std::mutex keys_mu_;
    std::vector<std::pair<int, bool>> delivered_;
    std::vector<bool> physical_;
};

TEST_F(KeypadTest, KeyLockKeyLocksAndSoftKeyThenStarUnlocks) {
    press_silently(VK_KEYLOCK);
    EXPECT_EQ(lock_value(), 2u);
    EXPECT_TRUE(handset::keypad_locked());
    EXPECT_TRUE(delivered().empty()) << "the key-lock key is the shell's own";

    press_silently(VK_TSOFT1);
    EXPECT_TRUE(handset::keypad_locked()) << "the soft key alone does not unlock";
    press_silently(VK_TSTAR);
    EXPECT_EQ(lock_value(), 0u);
    EXPECT_FALSE(handset::keypad_locked());
    EXPECT_TRUE(delivered().empty()) << "the unlock sequence, the star's release included, is swallowed";

    const auto keypad = events("keypad");
    ASSERT_EQ(keypad.size(), 2u);
    EXPECT_EQ(keypad[0]["locked"], true);
    EXPECT_EQ(keypad[1]["locked"], false);
    const auto writes = events("reg.set");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0]["key"], "HKLM\\System\\State");
    EXPECT_EQ(writes[0]["name"], "Lock");
    EXPECT_EQ(writes[0]["data"], 2);
    EXPECT_EQ(writes[1]["data"], 0);

    // Unlocked, the same keys go to the programs again.
    press_silently(VK_TSTAR);
    EXPECT_EQ(delivered(), (std::vector<std::pair<int, bool>>{{VK_TSTAR, false}, {VK_TSTAR, true}}));
}

TEST_F(KeypadTest, KeysAreSwallowedWhileLockedAndAnotherKeyBreaksTheSequence) {
    handset::press_physical_key(VK_KEYLOCK);
    ASSERT_TRUE(handset::keypad_locked());
    handset::press_physical_key(VK_RETURN);
    handset::press_physical_key(VK_TSOFT1);
    handset::press_physical_key('5');
    handset::press_physical_key(VK_TSTAR);
    EXPECT_TRUE(handset::keypad_locked()) << "a key between soft key and star breaks the sequence";
    handset::press_physical_key(VK_TSOFT1);
    handset::press_physical_key(VK_TSTAR);
    EXPECT_FALSE(handset::keypad_locked());
    EXPECT_TRUE(delivered().empty());
    EXPECT_EQ(events("keypad").size(), 2u);
    EXPECT_EQ(events("key").size(), 14u) << "every key event is reported, swallowed or not";
}

TEST_F(KeypadTest, LockValueWrittenByOthersLocksTheKeypad) {
    set_dword(HKEY_LOCAL_MACHINE, u"System\\State", u"Lock", 2);
    EXPECT_TRUE(handset::keypad_locked());
    handset::press_physical_key(VK_UP);
    EXPECT_TRUE(delivered().empty());
    // The key-lock key on a locked keypad changes nothing.
    clear_events();
    handset::press_physical_key(VK_KEYLOCK);
    EXPECT_TRUE(events("keypad").empty());
    handset::press_physical_key(VK_TSOFT1);
    handset::press_physical_key(VK_TSTAR);
    EXPECT_EQ(lock_value(), 0u);
}

TEST_F(KeypadTest, KeyEventsAndClicks) {
    const auto clicks = handset::key_clicks();
    keybd_event(VK_TSOFT1, 0, KEYEVENTF_SILENT, 0);
    keybd_event(VK_TSOFT1, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
    EXPECT_EQ(handset::key_clicks(), clicks) << "a silent key makes no click";
    keybd_event(VK_RETURN, 0, 0, 0);
    keybd_event(VK_RETURN, 0, KEYEVENTF_KEYUP, 0);
    handset::press_physical_key(VK_DOWN);
    EXPECT_EQ(handset::key_clicks(), clicks + 2) << "one click per press, none for releases";
    EXPECT_TRUE(events("sound").empty()) << "clicks stay out of the log";

    const auto keys = events("key");
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys[0]["vk"], 112);
    EXPECT_EQ(keys[0]["up"], false);
    EXPECT_EQ(keys[0]["silent"], true);
    EXPECT_EQ(keys[0]["source"], "inject");
    EXPECT_EQ(keys[1]["up"], true);
    EXPECT_EQ(keys[2]["silent"], false);
    EXPECT_EQ(keys[4]["vk"], VK_DOWN);
    EXPECT_EQ(keys[4]["source"], "user");
    EXPECT_EQ(physical(), (std::vector<bool>{false, false, false, false, true, true}))
        << "the home screen tells the user's press from injected keys";
    EXPECT_EQ(delivered().size(), 6u);
}

TEST_F(KeypadTest, LockThatCannotBeWrittenDoesNotHappen) {
    handset::set_fault(handset::Fault::RegistryWrite, true);
    press_silently(VK_KEYLOCK);
    EXPECT_FALSE(handset::keypad_locked());
    EXPECT_TRUE(events("keypad").empty()) << "no lock is announced that the phone's state does not show";
    press_silently(VK_RETURN);
    EXPECT_EQ(delivered().size(), 2u);
}

TEST_F(KeypadTest, UnreadableLockValueCountsAsUnlocked) {
    const char16_t text[] = u"2";
    const struct {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {"text", REG_SZ, {reinterpret_cast<const BYTE*>(text), reinterpret_cast<const BYTE*>(text) + sizeof(text)}},
        {"binary", REG_BINARY, {2, 0, 0, 0}},
        {"short dword", REG_DWORD, {2, 0, 0}},
        {"long dword", REG_DWORD, {2, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"System\\State", 0, 0, &key), ERROR_SUCCESS);
        RegSetValueExW(key, u"Lock", 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        RegCloseKey(key);
        EXPECT_FALSE(handset::keypad_locked());
        handset::press_physical_key(VK_RETURN);
        EXPECT_EQ(delivered().size(), 2u);
    }
}

// The home screen's left soft key starts Quillon only when the user presses it: the
// key-lock watch injects the same key to unlock the keypad, which must start nothing.
TEST_F(KeypadTest, HomeScreenStartsQuillonOnlyOnTheUsersLeftSoftKey) {
    int starts = 0;
    handset::shell::Launcher launcher(handset::shell::PhoneTime::fixed(), [&] { ++starts; });
    const struct {
        const char* what;
        BYTE vk;
        bool physical;
        int starts;
    } cases[] = {
        {"injected left soft key", VK_TSOFT1, false, 0},
        {"another key of the user", VK_TSOFT2, true, 0},
        {"the user's left soft key", VK_TSOFT1, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        starts = 0;
        if (c.physical) {
            handset::press_physical_key(c.vk);
        } else {
            keybd_event(c.vk, 0, 0, 0);
            keybd_event(c.vk, 0, KEYEVENTF_KEYUP, 0);
        }
        EXPECT_EQ(starts, c.starts);
    }
}

}  // namespace
