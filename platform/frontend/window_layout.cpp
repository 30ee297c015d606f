// The phone window's geometry.
#include "platform/frontend/window_layout.h"

#include "platform/handset/window/pixel_screen.h"

namespace handset::frontend {
namespace {

constexpr int kOuterMargin = 12;
constexpr int kKeyColumns = 3;

// The keypad as the handset has it: soft keys beside the up arrow, the action key among
// the arrows, Back and power beside the down arrow, then the number pad.
constexpr struct {
    std::string_view label;
    std::optional<BYTE> vk;
} kKeypad[] = {
    {"Soft L", VK_TSOFT1}, {"▲", VK_UP},       {"Soft R", VK_TSOFT2},
    {"◀", VK_LEFT},        {"OK", VK_RETURN},  {"▶", VK_RIGHT},
    {"Back", VK_ESCAPE},   {"▼", VK_DOWN},     {"Power", std::nullopt},
    {"1", '1'},            {"2", '2'},         {"3", '3'},
    {"4", '4'},            {"5", '5'},         {"6", '6'},
    {"7", '7'},            {"8", '8'},         {"9", '9'},
    {"*", VK_TSTAR},       {"0", '0'},         {"#", VK_TPOUND},
};
constexpr int kKeyRows = static_cast<int>(std::size(kKeypad)) / kKeyColumns;

}  // namespace

WindowLayout window_layout(int scale) {
    WindowLayout l;
    // The screen grows with the scale; the keys and text only a little, so that a large
    // scale does not give a keypad taller than the desk.
    const int pad = 10 + 6 * scale;
    const int top_pad = pad + pad / 2;  // room for the earpiece
    const int key_height = 20 + 8 * scale;
    const int key_gap = 4 + 2 * scale;
    l.key_font_px = 10 + 2 * scale;
    l.panel_font_px = 10 + 2 * scale;

    l.body.x = kOuterMargin;
    l.body.y = kOuterMargin;
    l.screen = {l.body.x + pad, l.body.y + top_pad, kScreenWidthPx * scale, kScreenHeightPx * scale};
    const int key_width = (l.screen.w - (kKeyColumns - 1) * key_gap) / kKeyColumns;
    const int keys_top = l.screen.bottom() + pad;
    for (int i = 0; i < static_cast<int>(std::size(kKeypad)); ++i) {
        const int row = i / kKeyColumns, column = i % kKeyColumns;
        l.keys.push_back({kKeypad[i].label, kKeypad[i].vk,
                          {l.screen.x + column * (key_width + key_gap), keys_top + row * (key_height + key_gap),
                           key_width, key_height}});
    }
    l.body.w = l.screen.w + 2 * pad;
    l.body.h = keys_top + kKeyRows * key_height + (kKeyRows - 1) * key_gap + pad - l.body.y;

    l.panel = {l.body.right() + kOuterMargin, kOuterMargin, 30 * l.panel_font_px, l.body.h};
    l.width = l.panel.right() + kOuterMargin;
    l.height = l.body.bottom() + kOuterMargin;
    return l;
}

const WindowKey* key_at(const WindowLayout& layout, int x, int y) {
    for (const WindowKey& key : layout.keys)
        if (key.rect.contains(x, y)) return &key;
    return nullptr;
}

}  // namespace handset::frontend
