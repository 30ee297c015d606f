// Where everything of the phone window is, for one integer scale: the handset's body
// with its screen (320 x 240 pixels, each shown as scale x scale) and its keys below it,
// and the panel beside it with its state rows, the handset controls in them, and the
// events. Pure geometry, so that drawing and clicking agree on it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/frontends/interactive/handset_controls.h"

#include "platform/handset/display/pixel_canvas.h"
#include "platform/wintypes.h"

namespace frontends {

// The scales `--scale` takes.
constexpr int kMinWindowScale = 1;
constexpr int kMaxWindowScale = 6;
// The scale of a window that fits the display.
constexpr int kDefaultWindowScale = 2;

struct WindowKey {
    std::string_view name;   // "up", "soft-left", "power": for the layout's listing
    std::string_view label;  // UTF-8, drawn on the key
    std::optional<BYTE> vk;  // nothing: the power button, which is no key of the keypad
    handset::Rect rect;
};

struct WindowControl {
    const HandsetControl* control;
    handset::Rect rect;
};

struct WindowLayout {
    int scale = 0;
    int width = 0, height = 0;  // the whole window
    handset::Rect body;                  // the handset's outline
    handset::Rect screen;                // the screen, scaled
    std::vector<WindowKey> keys;
    handset::Rect panel;                 // the state rows, the events and the command line
    int key_font_px = 0;        // the keys' labels
    int panel_font_px = 0;      // the panel's text
    int text_height = 0;        // one line of the panel's text
    // The state rows, one for each of panel_row_labels(), row_height apart from
    // rows_top; the label column is label_width wide.
    int rows_top = 0;
    int row_height = 0;
    int label_width = 0;
    std::vector<WindowControl> controls;  // in the rows, right-aligned
    int events_top = 0;                   // below the rows: the events' heading
};

// The layout at `scale` (kMinWindowScale to kMaxWindowScale).
WindowLayout window_layout(int scale);

// The largest scale whose window fits in width x height; the smallest scale when none does.
int scale_that_fits(int width, int height);

// The key under the window point (x, y), or null.
const WindowKey* key_at(const WindowLayout& layout, int x, int y);
// The handset control under the window point (x, y), or null.
const WindowControl* control_at(const WindowLayout& layout, int x, int y);

// The clickable regions as JSON: {"scale":2,"width":..,"height":..,"regions":[{"name":
// "key-up","kind":"key","x":..,"y":..,"w":..,"h":..},{"name":"missed-add","kind":
// "control",...},...]}, in window pixels.
std::string layout_json(const WindowLayout& layout);

}  // namespace frontends
