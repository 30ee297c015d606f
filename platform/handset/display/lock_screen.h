// The shell's lock screen, which covers whatever is in front while the key lock holds
// the keypad: what it shows, for the text screen and the pixel screen to draw alike.
#pragma once

#include <string>
#include <string_view>

#include "platform/handset/display/screen_snapshot.h"

namespace handset {

// Whose keys the unlock hint names: the phone's own, or the terminal's, where F1
// stands in for the left soft key.
enum class UnlockKeys { Phone, Terminal };

struct LockScreen {
    std::u16string clock;  // large, centred, the date under it
    std::u16string date;
    std::u16string_view message;   // what holds the phone
    std::u16string_view hint;      // how to unlock it, in the keys of the screen drawn
    std::u16string_view soft_key;  // the left soft key's label
};

// The lock screen at the moment `facts` tell of.
inline LockScreen lock_screen(const ShellFacts& facts, UnlockKeys keys) {
    return {
        facts.clock, facts.date, u"키패드 잠김",
        keys == UnlockKeys::Terminal ? u"잠금 해제: 왼쪽 소프트키(F1) 다음 *" : u"잠금 해제: 왼쪽 소프트키, 그다음 *",
        u"잠금 해제"};
}

}  // namespace handset
