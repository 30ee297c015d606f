// The keypad's input path and the shell's key lock.
//
// Injected keys (keybd_event) and the user's presses (press_physical_key) take the
// same path: the `key` event, a key click unless the key is silent, a word to the
// power manager that the user is active, and then the key lock, which either swallows
// the key or hands it to the window system for the foreground window's thread. A key
// that no window of this host takes, because none is in front, goes to the home
// screen's handler.
//
// The key lock's state is HKLM "System\State" "Lock" itself (bit 2: keypad locked),
// so that the handset, the program, `reg set` and every front end see one truth. Key
// clicks make no `sound` event: they would bury the program's sounds in the log.
#include <atomic>
#include <bitset>
#include <cassert>
#include <functional>
#include <mutex>

#include "platform/handset/core/checked_mutex.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/devices/audio_output.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/devices/services.h"
#include "platform/handset/registry/state_values.h"
#include "platform/handset/window/wm.h"
#include "platform/winreg.h"
#include "platform/winuser.h"

namespace handset {
namespace {

// "Lock" is a bit mask: 1 the device lock, 2 the key lock, 4 the SIM lock. The key lock
// owns bit 2 alone and keeps the others as it finds them.
constexpr DWORD kKeypadLockBit = 2;

bool write_lock_value(DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_handle(kKeypadLock.root), kKeypadLock.key, 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExW(key, kKeypadLock.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool locked_now() {
    const auto value = read_dword(kKeypadLock);
    return value && (*value & kKeypadLockBit);
}

// The key lock: the shell's part of the input path, which takes the key-lock key, and
// the keypad while locked.
class KeyLock {
public:
    // Whether a key would reach the programs now; changes nothing.
    bool reaches_programs(BYTE vk, bool up) {
        std::lock_guard lock(mu_);
        return reaches(vk, up);
    }

    // Decides whether a key reaches the programs; locks and unlocks on the way.
    bool passes(BYTE vk, bool up) {
        std::lock_guard lock(mu_);
        const bool pass = reaches(vk, up);
        if (up) {
            held_.reset(vk);
            return pass;
        }
        if (vk == VK_KEYLOCK) {
            held_.set(vk);
            if (!locked_now()) lock_keypad();
            return false;
        }
        if (pass) return true;
        held_.set(vk);
        if (vk == VK_TSOFT1) {
            awaiting_star_ = true;
        } else if (vk == VK_TSTAR && awaiting_star_) {
            awaiting_star_ = false;
            unlock_keypad();
        } else {
            awaiting_star_ = false;
        }
        return false;
    }

private:
    // mu_ held. A key whose press the lock took keeps its release too, so that no
    // program sees a release without its press.
    bool reaches(BYTE vk, bool up) const {
        assert(mu_.held());
        if (vk == VK_KEYLOCK || (up && held_.test(vk))) return false;
        return !locked_now();
    }

    void lock_keypad() {
        awaiting_star_ = false;
        const DWORD others = read_dword(kKeypadLock).value_or(0) & ~kKeypadLockBit;
        if (write_lock_value(others | kKeypadLockBit)) events().emit("keypad", {{"locked", true}});
    }
    void unlock_keypad() {
        const DWORD others = read_dword(kKeypadLock).value_or(0) & ~kKeypadLockBit;
        if (write_lock_value(others)) events().emit("keypad", {{"locked", false}});
    }

    mutable CheckedMutex mu_;
    bool awaiting_star_ = false;  // the left soft key came first while locked
    std::bitset<256> held_;        // keys whose press the lock swallowed
};

std::atomic<std::uint64_t> g_clicks{0};

std::mutex g_home_mu;
std::function<void(BYTE, bool, bool)> g_home_key;

void offer_to_home_screen(BYTE vk, bool up, bool physical) {
    std::function<void(BYTE, bool, bool)> home;
    {
        std::lock_guard lock(g_home_mu);
        home = g_home_key;
    }
    if (home) home(vk, up, physical);
}

KeyLock& key_lock() {
    static KeyLock lock;
    return lock;
}

// True when the user's key went into the queue of a thread that is blocked outside its
// message loop: it waits there, and the log says so, since what it sets off comes later.
bool key_input(BYTE vk, bool up, bool silent, bool physical) {
    const char* source = physical ? "user" : "inject";
    Fields fields{{"vk", vk}, {"up", up}, {"silent", silent}, {"source", source}};
    const bool queued = physical && foreground_input_held() && key_lock().reaches_programs(vk, up);
    if (queued) fields.set("queued", true);
    events().emit("key", std::move(fields));
    if (!up && !silent) {
        audio::click();
        ++g_clicks;
    }
    power_user_activity();
    if (key_lock().passes(vk, up) && !deliver_key(vk, up)) offer_to_home_screen(vk, up, physical);
    return queued;
}

}  // namespace

bool press_physical_key(BYTE vk) {
    // Under the virtual clock the press comes when the handset is at rest, and the finger
    // lifts only once the handset has handled it (or left it queued for a thread that is
    // held outside its message loop), so what the press sets off comes before the
    // key-up, the same every run. Under the real clock the front end must not wait on
    // a program that is busy.
    const bool virtual_clock = clock().kind() == ClockKind::Virtual;
    if (virtual_clock) clock().wait_for_rest();
    const bool queued = key_input(vk, false, false, true);
    if (virtual_clock) settle_input();
    key_input(vk, true, false, true);
    return queued;
}

bool keypad_locked() { return locked_now(); }

void set_home_key_handler(std::function<void(BYTE vk, bool up, bool physical)> handler) {
    std::lock_guard lock(g_home_mu);
    g_home_key = std::move(handler);
}

std::uint64_t key_clicks() { return g_clicks.load(); }

}  // namespace handset

void keybd_event(BYTE vk, BYTE scan, DWORD flags, std::uintptr_t extra) {
    handset::key_input(vk, (flags & KEYEVENTF_KEYUP) != 0, (flags & KEYEVENTF_SILENT) != 0, false);
}
