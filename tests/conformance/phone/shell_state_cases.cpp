// The shell's calls (the shortcut, the soft-key bar), sounds, the key lock, the state
// values the phone publishes and the vibration motor, as their reference pages and SDK
// headers give them.
#include <cstring>
#include <vector>

#include "phone.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/window/wm.h"

namespace phone_conformance {
namespace {

constexpr WCHAR kShortcut[] = TEXT("\\Windows\\StartUp\\Phone case.lnk");

// A WAV image of `ms` milliseconds of silence, 16 kHz mono 16-bit.
std::vector<BYTE> wav_image(int ms) {
    const std::uint32_t data = static_cast<std::uint32_t>(16 * ms * 2);
    std::vector<BYTE> out;
    const auto text = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    const auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
    };
    const auto u16 = [&](std::uint16_t v) {
        out.push_back(static_cast<BYTE>(v));
        out.push_back(static_cast<BYTE>(v >> 8));
    };
    text("RIFF");
    u32(36 + data);
    text("WAVE");
    text("fmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(16000);
    u32(32000);
    u16(2);
    u16(16);
    text("data");
    u32(data);
    out.resize(out.size() + data, 0);
    return out;
}

std::string playing() { return handset::sound_playing() ? "playing" : "silent"; }

// The type and size of a state value read at its documented place, or why it cannot be.
std::string state_value(HKEY root, LPCWSTR key, LPCWSTR name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key, 0, 0, &k) != ERROR_SUCCESS) return "no key";
    DWORD type = 0, size = 0;
    const LONG r = RegQueryValueExW(k, name, nullptr, &type, nullptr, &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS) return "no value";
    return type == REG_DWORD ? "REG_DWORD" : type == REG_SZ ? "REG_SZ" : "type " + std::to_string(type);
}

DWORD lock_value() {
    HKEY k = nullptr;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("System\\State"), 0, 0, &k) != ERROR_SUCCESS) return 0xFFFFFFFF;
    RegQueryValueExW(k, TEXT("Lock"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(k);
    return value;
}

void set_lock_value(DWORD value) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("System\\State"), 0, 0, &k) != ERROR_SUCCESS) return;
    RegSetValueExW(k, TEXT("Lock"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(k);
}

void press(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
}

// A soft-key bar made on a fresh window from `info` (cbSize, flags and id filled in by
// the case); its outcome.
std::string menu_bar(SHMENUBARINFO info) {
    HWND window = handset::create_top_level_window(u"phone case", handset::default_window_proc);
    info.hwndParent = window;
    const std::string r = outcome(SHCreateMenuBar(&info));
    DestroyWindow(window);
    return r;
}

SHMENUBARINFO bar_info(UINT menu) {
    SHMENUBARINFO info{};
    info.cbSize = sizeof info;
    info.dwFlags = SHCMBF_HMENU;
    info.nToolBarId = menu;
    return info;
}

}  // namespace

Group shell_group() {
    return {"shell",
            {
                // "SHCreateShortcut": makes a new shortcut; one that exists makes the call fail.
                {"shortcut_exists", "TRUE; FALSE",
                 [] {
                     const std::string first = outcome(SHCreateShortcut(kShortcut, TEXT("\\Windows\\a.exe")));
                     const BOOL second = SHCreateShortcut(kShortcut, TEXT("\\Windows\\b.exe"));
                     DeleteFileW(kShortcut);
                     return first + "; " + (second ? "TRUE" : "FALSE");
                 }},
                // "SHCreateShortcut": the target holds at most 256 characters.
                {"shortcut_target_limit", "TRUE; FALSE",
                 [] {
                     const std::string first = outcome(SHCreateShortcut(kShortcut, WString(256, TEXT('a')).c_str()));
                     DeleteFileW(kShortcut);
                     const BOOL longer = SHCreateShortcut(kShortcut, WString(257, TEXT('a')).c_str());
                     DeleteFileW(kShortcut);
                     return first + "; " + (longer ? "TRUE" : "FALSE");
                 }},
                // aygshell.h: the menu bar's flags.
                {"menubar_flags", "0x1 0x2 0x4 0x8 0x10",
                 [] {
                     return hex(SHCMBF_EMPTYBAR) + " " + hex(SHCMBF_HIDDEN) + " " + hex(SHCMBF_HIDESIPBUTTON) + " " +
                            hex(SHCMBF_COLORBK) + " " + hex(SHCMBF_HMENU);
                 }},
                // "SHCreateMenuBar": a two-item menu becomes the two soft keys.
                {"menubar_two_items", "TRUE", [] { return menu_bar(bar_info(128)); }},
                // "SHMENUBARINFO": cbSize is the record's size; older callers pass it without clrBk.
                {"menubar_cbsize", "TRUE; TRUE; FALSE",
                 [] {
                     SHMENUBARINFO older = bar_info(128), wrong = bar_info(128);
                     older.cbSize = offsetof(SHMENUBARINFO, clrBk);
                     wrong.cbSize = 0;
                     const BOOL none = SHCreateMenuBar(&wrong);
                     return menu_bar(bar_info(128)) + "; " + menu_bar(older) + "; " + (none ? "TRUE" : "FALSE");
                 }},
                // "SHCreateMenuBar" (Windows Mobile 5.0 remarks): on a Smartphone the call fails
                // for more than two top-level items, or for images.
                {"menubar_smartphone_limits", "FALSE; FALSE",
                 [] {
                     SHMENUBARINFO images = bar_info(128);
                     images.nBmpId = 1;
                     images.cBmpImages = 2;
                     const std::string three = menu_bar(bar_info(kThreeItemMenu));
                     return three.substr(0, 5) + "; " + menu_bar(images).substr(0, 5);
                 }},
            }};
}

Group sound_group() {
    return {"sound",
            {
                // mmsystem.h: the flags.
                {"flags", "0x0 0x1 0x2 0x4 0x8 0x10 0x20000",
                 [] {
                     return hex(SND_SYNC) + " " + hex(SND_ASYNC) + " " + hex(SND_NODEFAULT) + " " + hex(SND_MEMORY) + " " +
                            hex(SND_LOOP) + " " + hex(SND_NOSTOP) + " " + hex(SND_FILENAME);
                 }},
                // "sndPlaySound": SND_LOOP repeats until a call with no name, and needs SND_ASYNC.
                {"loop", "FALSE; TRUE, playing after 1 h; TRUE, silent",
                 [] {
                     const std::vector<BYTE> wav = wav_image(200);
                     const auto name = reinterpret_cast<LPCWSTR>(wav.data());
                     const BOOL sync = sndPlaySound(name, SND_MEMORY | SND_LOOP);
                     const BOOL looped = sndPlaySound(name, SND_MEMORY | SND_LOOP | SND_ASYNC);
                     Sleep(3600 * 1000);
                     const std::string after = playing();
                     const BOOL stopped = sndPlaySound(nullptr, 0);
                     return std::string(sync ? "TRUE" : "FALSE") + "; " + (looped ? "TRUE" : "FALSE") + ", " + after +
                            " after 1 h; " + (stopped ? "TRUE" : "FALSE") + ", " + playing();
                 }},
                // "sndPlaySound": SND_NOSTOP returns FALSE at once while another sound plays.
                {"nostop", "FALSE while playing; TRUE when silent",
                 [] {
                     const std::vector<BYTE> wav = wav_image(500);
                     const auto name = reinterpret_cast<LPCWSTR>(wav.data());
                     sndPlaySound(name, SND_MEMORY | SND_ASYNC);
                     const BOOL busy = sndPlaySound(name, SND_MEMORY | SND_ASYNC | SND_NOSTOP);
                     Sleep(600);
                     const BOOL free = sndPlaySound(name, SND_MEMORY | SND_NOSTOP);
                     return std::string(busy ? "TRUE" : "FALSE") + " while playing; " + (free ? "TRUE" : "FALSE") +
                            " when silent";
                 }},
                // "sndPlaySound": SND_MEMORY takes the name as a sound's image in memory.
                {"memory", "TRUE", [] {
                     const std::vector<BYTE> wav = wav_image(100);
                     return outcome(sndPlaySound(reinterpret_cast<LPCWSTR>(wav.data()), SND_MEMORY));
                 }},
                // "sndPlaySound": SND_ALIAS (0x10000) names a sound of the registry's sound scheme.
                {"alias", "TRUE",
                 [] { return outcome(sndPlaySound(TEXT("SystemDefault"), 0x10000 | SND_NODEFAULT)); },
                 "the phone keeps no sound scheme: its programs name their WAV files, and an alias is refused"},
                // "sndPlaySound": a sound that cannot be found returns without the default
                // sound under SND_NODEFAULT; otherwise the default sound plays.
                {"missing_file", "FALSE; TRUE",
                 [] {
                     const BOOL quiet = sndPlaySound(TEXT("\\Windows\\no such.wav"), SND_NODEFAULT);
                     const BOOL fallback = sndPlaySound(TEXT("\\Windows\\no such.wav"), SND_SYNC);
                     return std::string(quiet ? "TRUE" : "FALSE") + "; " + (fallback ? "TRUE" : "FALSE");
                 }},
            }};
}

Group state_group() {
    return {"state",
            {
                // snapi.h, SN_LOCK: HKLM "System\State" "Lock", a bit mask: 1 the device, 2
                // the keys, 4 the SIM. The key-lock key sets 2, the unlock sequence clears it,
                // and both keep the other bits.
                {"key_lock_bits", "0x4 -> 0x6 -> 0x4; 0x1 -> 0x3 -> 0x1",
                 [] {
                     std::string out;
                     for (DWORD others : {0x4u, 0x1u}) {
                         set_lock_value(others);
                         press(VK_KEYLOCK);
                         const DWORD locked = lock_value();
                         press(VK_TSOFT1);
                         press(VK_TSTAR);
                         out += (out.empty() ? "" : "; ") + hex(others) + " -> " + hex(locked) + " -> " + hex(lock_value());
                     }
                     set_lock_value(0);
                     return out;
                 }},
                // snapi.h, SN_LOCK: the value itself.
                {"lock_value", "REG_DWORD", [] { return state_value(HKEY_LOCAL_MACHINE, TEXT("System\\State"), TEXT("Lock")); }},
                // snapi.h, SN_PHONEMISSEDCALLS: HKCU "System\State\Phone" "Missed Call Count".
                {"missed_calls", "REG_DWORD",
                 [] { return state_value(HKEY_CURRENT_USER, TEXT("System\\State\\Phone"), TEXT("Missed Call Count")); }},
                // snapi.h, SN_MESSAGINGSMSUNREAD: HKCU "System\State\Messages\SMS\Unread" "Count".
                {"unread_sms", "REG_DWORD",
                 [] { return state_value(HKEY_CURRENT_USER, TEXT("System\\State\\Messages\\sms\\Unread"), TEXT("Count")); }},
                // snapi.h, SN_PHONEACTIVECALLCOUNT: HKLM "System\State\Phone" "Active Call Count".
                {"active_calls", "REG_DWORD",
                 [] { return state_value(HKEY_LOCAL_MACHINE, TEXT("System\\State\\Phone"), TEXT("Active Call Count")); }},
                // snapi.h, SN_PHONEROAMING and the other phone bits: HKLM "System\State\Phone"
                // "Status", a bit mask of the radio's and the calls' state.
                {"phone_status", "REG_DWORD",
                 [] { return state_value(HKEY_LOCAL_MACHINE, TEXT("System\\State\\Phone"), TEXT("Status")); },
                 "the emulated phone has no radio to report on, and nothing on it reads the value; the call count stands for the calls"},
                // snapi.h, SN_PHONEPROFILE: HKCU "ControlPanel\Profiles" "ActiveProfile", a string.
                {"profile", "REG_SZ",
                 [] { return state_value(HKEY_CURRENT_USER, TEXT("ControlPanel\\Profiles"), TEXT("ActiveProfile")); }},
            }};
}

Group vibration_group() {
    constexpr LONG kNotImplemented = static_cast<LONG>(0x80004001);
    const auto hr = [](LONG r) { return r == 0 ? std::string("S_OK") : r == kNotImplemented ? std::string("E_NOTIMPL") : hex(static_cast<DWORD>(r)); };
    return {"vibration",
            {
                // "Vibrate": no notes, no note array and INFINITE: runs until VibrateStop.
                {"default_until_stopped", "S_OK; S_OK", [hr] { return hr(Vibrate(0, nullptr, TRUE, INFINITE)) + "; " + hr(VibrateStop()); }},
                // "Vibrate": any other form is not implemented.
                {"other_forms", "E_NOTIMPL E_NOTIMPL",
                 [hr] {
                     const std::string timed = hr(Vibrate(0, nullptr, TRUE, 500));
                     const std::string notes = hr(Vibrate(1, nullptr, FALSE, INFINITE));
                     VibrateStop();
                     return timed + " " + notes;
                 }},
            }};
}

}  // namespace phone_conformance
