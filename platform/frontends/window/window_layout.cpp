// The phone window's geometry.
#include "platform/frontends/window/window_layout.h"

#include <algorithm>

#include "platform/frontends/interactive/console.h"
#include "platform/handset/core/json.h"
#include "platform/handset/display/pixel_screen.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

constexpr int kOuterMargin = 12;
constexpr int kKeyColumns = 3;

// The keypad as the handset has it: soft keys beside the up arrow, the action key among
// the arrows, Back and power beside the down arrow, then the number pad.
constexpr struct {
    std::string_view name;
    std::string_view label;
    std::optional<BYTE> vk;
} kKeypad[] = {
    {"soft-left", "Soft L", VK_TSOFT1}, {"up", "▲", VK_UP},       {"soft-right", "Soft R", VK_TSOFT2},
    {"left", "◀", VK_LEFT},             {"ok", "OK", VK_RETURN},  {"right", "▶", VK_RIGHT},
    {"back", "Back", VK_ESCAPE},        {"down", "▼", VK_DOWN},   {"power", "Power", std::nullopt},
    {"1", "1", '1'},                    {"2", "2", '2'},          {"3", "3", '3'},
    {"4", "4", '4'},                    {"5", "5", '5'},          {"6", "6", '6'},
    {"7", "7", '7'},                    {"8", "8", '8'},          {"9", "9", '9'},
    {"star", "*", VK_TSTAR},            {"0", "0", '0'},          {"pound", "#", VK_TPOUND},
};
constexpr int kKeyRows = static_cast<int>(std::size(kKeypad)) / kKeyColumns;

}  // namespace

WindowLayout window_layout(int scale) {
    WindowLayout l;
    l.scale = scale;
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
        l.keys.push_back({kKeypad[i].name, kKeypad[i].label, kKeypad[i].vk,
                          {l.screen.x + column * (key_width + key_gap), keys_top + row * (key_height + key_gap),
                           key_width, key_height}});
    }
    l.body.w = l.screen.w + 2 * pad;
    l.body.h = keys_top + kKeyRows * key_height + (kKeyRows - 1) * key_gap + pad - l.body.y;

    // The panel: a heading, the state rows with the controls at their right ends, then
    // the events. Its font is a proportional one of about half an em a letter; the
    // widest row, power with four buttons, takes 7 + 7 + 21 ems.
    const int em = l.panel_font_px;
    l.panel = {l.body.right() + kOuterMargin, kOuterMargin, 36 * em, l.body.h};
    l.width = l.panel.right() + kOuterMargin;
    l.height = l.body.bottom() + kOuterMargin;
    const int panel_pad = em / 2;
    l.text_height = em * 5 / 4 + 2;
    l.row_height = em * 7 / 4;
    l.rows_top = l.panel.y + panel_pad + l.text_height;
    l.label_width = 7 * em;
    const int button_width = 5 * em, button_gap = em / 3;
    const std::span<const std::string_view> rows = panel_row_labels();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const std::size_t first = l.controls.size();
        int right = l.panel.right() - panel_pad;
        const int top = l.rows_top + static_cast<int>(row) * l.row_height + 1;
        const std::span<const HandsetControl> controls = handset_controls();
        // Right to left, so that a row's last control ends at the panel's edge.
        for (auto c = controls.rbegin(); c != controls.rend(); ++c) {
            if (c->row != rows[row]) continue;
            l.controls.push_back({&*c, {right - button_width, top, button_width, l.row_height - 2}});
            right -= button_width + button_gap;
        }
        std::reverse(l.controls.begin() + static_cast<std::ptrdiff_t>(first), l.controls.end());
    }
    l.events_top = l.rows_top + static_cast<int>(rows.size()) * l.row_height + l.text_height / 2;
    return l;
}

int scale_that_fits(int width, int height) {
    for (int scale = kMaxWindowScale; scale > kMinWindowScale; --scale) {
        const WindowLayout l = window_layout(scale);
        if (l.width <= width && l.height <= height) return scale;
    }
    return kMinWindowScale;
}

const WindowKey* key_at(const WindowLayout& layout, int x, int y) {
    for (const WindowKey& key : layout.keys)
        if (key.rect.contains(x, y)) return &key;
    return nullptr;
}

const WindowControl* control_at(const WindowLayout& layout, int x, int y) {
    for (const WindowControl& c : layout.controls)
        if (c.rect.contains(x, y)) return &c;
    return nullptr;
}

std::string layout_json(const WindowLayout& layout) {
    Json regions = Json::array();
    const auto region = [&](std::string name, const char* kind, const Rect& r) {
        regions.push_back({{"name", std::move(name)}, {"kind", kind}, {"x", r.x}, {"y", r.y}, {"w", r.w}, {"h", r.h}});
    };
    for (const WindowKey& key : layout.keys) region("key-" + std::string(key.name), "key", key.rect);
    for (const WindowControl& c : layout.controls) region(std::string(c.control->name), "control", c.rect);
    return Json{{"scale", layout.scale}, {"width", layout.width}, {"height", layout.height}, {"regions", regions}}
        .dump();
}

}  // namespace frontends
