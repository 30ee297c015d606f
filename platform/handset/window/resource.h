// Resources of a program: dialog templates, menus, strings, icons, bitmaps and the
// version record, looked up by id as the platform's resource functions would.
//
// A program's resources are plain data (res/ for Quillon) registered once with
// set_resources(). Texts are UTF-16; rectangles are in dialog units.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wintypes.h"

namespace handset {

enum class ControlKind { Static, Checkbox, ComboBox, GroupBox, Picture, Button };

enum class TextAlign { Left, Center, Right };

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int x, y, cx, cy;
    TextAlign align = TextAlign::Left;
    int image_id = 0;           // Picture: bitmap resource id
    bool vscroll = false;       // ComboBox: vertical scroll bar
    bool integral_height = true;
};

struct DialogTemplate {
    int id;
    std::u16string_view title;
    std::u16string_view font;
    int point_size;
    int cx, cy;
    bool visible = true;
    std::span<const ControlTemplate> controls;
};

struct MenuItem {
    int id;                   // 0 for a separator or a popup
    std::u16string_view text;
    std::span<const MenuItem> popup = {};  // non-empty: this item opens a popup
    bool separator = false;
};

struct MenuTemplate {
    int id;
    std::span<const MenuItem> items;  // top level: [0] left soft key, [1] right soft key
};

// A command bar's soft-key bar definition: one button that sends `command`, labelled with
// string resource `label_string` (what CCommandBar::InsertMenuBar builds for its id).
struct SoftKeyBarResource {
    int id;
    int command;
    int label_string;
};

struct StringResource {
    int id;
    std::u16string_view text;
};

struct ImageResource {
    int id;
    int width, height, bits_per_pixel;
    std::span<const std::uint8_t> pixels;  // bottom-up rows as in a DIB, no padding needed
};

struct IconResource {
    int id;
    std::span<const ImageResource> images;
};

struct VersionResource {
    std::u16string_view file_version;
    std::u16string_view product_version;
    std::u16string_view original_filename;
    int language;
};

struct Resources {
    std::span<const DialogTemplate> dialogs;
    std::span<const MenuTemplate> menus;
    std::span<const StringResource> strings;
    std::span<const IconResource> icons;
    std::span<const ImageResource> bitmaps;
    VersionResource version;
    bool hi_res_aware = false;  // the "CEUX" "HI_RES_AWARE" marker
    int language = 0;
    std::span<const SoftKeyBarResource> softkey_bars = {};
};

void set_resources(const Resources* resources);
const Resources* resources();

const DialogTemplate* find_dialog(int id);
const MenuTemplate* find_menu(int id);
std::u16string_view find_string(int id);
const IconResource* find_icon(int id);
const ImageResource* find_bitmap(int id);
const SoftKeyBarResource* find_softkey_bar(int id);

}  // namespace handset
