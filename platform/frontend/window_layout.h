// Where everything of the phone window is, for one integer scale: the handset's body
// with its screen (320 x 240 pixels, each shown as scale x scale) and its keys below it,
// and the panel beside it. Pure geometry, so that drawing and clicking agree on it.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/handset/window/pixel_canvas.h"
#include "platform/wintypes.h"

namespace handset::frontend {

// The scales `--scale` takes.
constexpr int kMinWindowScale = 1;
constexpr int kMaxWindowScale = 6;

struct WindowKey {
    std::string_view label;  // UTF-8, drawn on the key
    std::optional<BYTE> vk;  // nothing: the power button, which is no key of the keypad
    Rect rect;
};

struct WindowLayout {
    int width = 0, height = 0;  // the whole window
    Rect body;                  // the handset's outline
    Rect screen;                // the screen, scaled
    std::vector<WindowKey> keys;
    Rect panel;                 // the state rows, the events and the command line
    int key_font_px = 0;        // the keys' labels
    int panel_font_px = 0;      // the panel's text
};

// The layout at `scale` (kMinWindowScale to kMaxWindowScale).
WindowLayout window_layout(int scale);

// The key under the window point (x, y), or null.
const WindowKey* key_at(const WindowLayout& layout, int x, int y);

}  // namespace handset::frontend
