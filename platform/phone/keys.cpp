// The key table and its lookups.
#include "platform/phone/keys.h"

#include <array>
#include <charconv>

#include "platform/handset/core/utf.h"

// Last: curses defines TRUE and FALSE, which the platform headers declare themselves.
#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <ncursesw/curses.h>

using namespace handset;

namespace phone {
namespace {

// The digits follow the named keys; their entries are made below.
constexpr PhoneKey kNamed[] = {
    {"left", "left soft", VK_TSOFT1, "F1", {KEY_F(1)}},
    {"right", "right soft", VK_TSOFT2, "F2", {KEY_F(2)}},
    {"back", "back", VK_ESCAPE, "Escape", {27}},
    {"enter", "enter", VK_RETURN, "Return", {KEY_ENTER, '\r', '\n'}},
    {"", "left arrow", VK_LEFT, "Left", {KEY_LEFT}},
    {"up", "up", VK_UP, "Up", {KEY_UP}},
    {"", "right arrow", VK_RIGHT, "Right", {KEY_RIGHT}},
    {"down", "down", VK_DOWN, "Down", {KEY_DOWN}},
    {"star", "star", VK_TSTAR, "*", {'*'}},
    {"pound", "pound", VK_TPOUND, "#", {'#'}},
    {"", "key lock", VK_KEYLOCK, "", {}},
};

constexpr std::string_view kDigits = "0123456789";

constexpr std::array<PhoneKey, std::size(kNamed) + 10> make_table() {
    std::array<PhoneKey, std::size(kNamed) + 10> keys{};
    std::size_t i = 0;
    for (const PhoneKey& k : kNamed) keys[i++] = k;
    for (std::size_t d = 0; d < 10; ++d) {
        const std::string_view digit = kDigits.substr(d, 1);
        keys[i++] = PhoneKey{digit, digit, static_cast<BYTE>('0' + d), digit, {static_cast<int>('0' + d)}};
    }
    return keys;
}

constexpr auto kKeys = make_table();

}  // namespace

std::span<const PhoneKey> phone_keys() { return kKeys; }

std::optional<BYTE> key_by_press_name(std::string_view name) {
    for (const PhoneKey& k : kKeys)
        if (!k.press.empty() && ascii_iequals(name, k.press)) return k.vk;
    if (name.size() <= 3 || !ascii_iequals(name.substr(0, 3), "vk:")) return std::nullopt;
    std::string_view number = name.substr(3);
    int base = 10;
    if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
        number.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value, base);
    if (ec != std::errc() || end != number.data() + number.size() || value == 0 || value > 255) return std::nullopt;
    return static_cast<BYTE>(value);
}

std::optional<BYTE> key_by_curses(int code) {
    for (const PhoneKey& k : kKeys)
        for (int c : k.curses)
            if (c != 0 && c == code) return k.vk;
    return std::nullopt;
}

std::optional<BYTE> key_by_keyboard(std::string_view name) {
    if (name.empty()) return std::nullopt;
    for (const PhoneKey& k : kKeys)
        if (k.keyboard == name) return k.vk;
    return std::nullopt;
}

std::string key_label(int vk) {
    for (const PhoneKey& k : kKeys)
        if (k.vk == vk) return std::string(k.label);
    return "vk " + std::to_string(vk);
}

std::string press_names() {
    std::string names;
    for (const PhoneKey& k : kNamed)
        if (!k.press.empty()) names += std::string(k.press) + ", ";
    return names + "0-9, vk:N";
}

}  // namespace phone
