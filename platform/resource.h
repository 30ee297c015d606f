// Resources of a program: dialog templates, menus, strings, icons, bitmaps and the
// version record, looked up by id as the platform's resource functions would.
//
// A program's resources are plain data (res/ for Quillon) registered once with
// set_resources(); both platforms build their dialogs and menus from the same tables.
// Texts are WCHAR strings; rectangles are in dialog units.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows.h"

namespace resource {

using TextView = std::basic_string_view<WCHAR>;

enum class ControlKind { Static, Checkbox, ComboBox, GroupBox, Picture, Button };

enum class TextAlign { Left, Center, Right };

struct ControlTemplate {
    int id;
    ControlKind kind;
    TextView text;
    int x, y, cx, cy;
    TextAlign align = TextAlign::Left;
    int image_id = 0;           // Picture: bitmap resource id
    bool vscroll = false;       // ComboBox: vertical scroll bar
    bool integral_height = true;
    bool auto_check = true;     // Checkbox: a click toggles it (else the program does)
};

struct DialogTemplate {
    int id;
    TextView title;
    TextView font;
    int point_size;
    int cx, cy;
    bool visible = true;
    std::span<const ControlTemplate> controls;
};

struct MenuItem {
    int id;                   // 0 for a separator or a popup
    TextView text;
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
    TextView text;
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
    TextView file_version;
    TextView product_version;
    TextView original_filename;
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

namespace detail {
inline std::atomic<const Resources*> registered{nullptr};

template <class Span>
auto find_by_id(Span items, int id) -> decltype(&items[0]) {
    for (const auto& item : items)
        if (item.id == id) return &item;
    return nullptr;
}
}  // namespace detail

// The table lives for the rest of the process; any thread may look it up.
inline void set_resources(const Resources* table) { detail::registered.store(table); }
inline const Resources* resources() { return detail::registered.load(); }

inline const DialogTemplate* find_dialog(int id) {
    const Resources* r = resources();
    return r ? detail::find_by_id(r->dialogs, id) : nullptr;
}
inline const MenuTemplate* find_menu(int id) {
    const Resources* r = resources();
    return r ? detail::find_by_id(r->menus, id) : nullptr;
}
inline TextView find_string(int id) {
    const Resources* r = resources();
    const StringResource* s = r ? detail::find_by_id(r->strings, id) : nullptr;
    return s ? s->text : TextView();
}
inline const IconResource* find_icon(int id) {
    const Resources* r = resources();
    return r ? detail::find_by_id(r->icons, id) : nullptr;
}
inline const ImageResource* find_bitmap(int id) {
    const Resources* r = resources();
    return r ? detail::find_by_id(r->bitmaps, id) : nullptr;
}
inline const SoftKeyBarResource* find_softkey_bar(int id) {
    const Resources* r = resources();
    return r ? detail::find_by_id(r->softkey_bars, id) : nullptr;
}

}  // namespace resource
