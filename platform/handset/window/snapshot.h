// What the phone's screen shows at one moment, copied out of the window records in one
// piece so that a renderer can draw it without holding any window-system lock: the
// title, the soft keys, the dialog's controls with their states and the focus, an open
// popup, a message box, a plain window's lines, and room for the shell's own facts (home
// screen, lock screen) that the display adds from the front end's source.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/handset/window/resource.h"
#include "platform/wintypes.h"

namespace handset {

// What the shell shows outside any program, ready to display. The front end that owns
// the launcher fills it (display/screen_snapshot.h: set_shell_facts_source); texts are
// as shown.
struct ShellFacts {
    std::u16string model;                                         // title bar, left
    std::u16string clock;                                         // "HH:MM"
    std::u16string date;                                          // "YYYY-MM-DD (요일)"
    std::vector<std::pair<std::u16string, std::u16string>> rows;  // label, value
    std::u16string soft_key;                                      // the launcher's left soft key
    int icon_id = 0;                                              // icon resource of the program the soft key starts
    bool keypad_locked = false;
};

struct ControlShot {
    int id = 0;
    ControlKind kind = ControlKind::Static;
    std::u16string text;  // a combobox: its selected entry, empty when none
    TextAlign align = TextAlign::Left;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    int image_id = 0;
    bool checked = false;
    bool enabled = true;
};

struct PopupShot {
    struct Item {
        std::u16string text;
        bool separator = false;
    };
    bool menu = true;  // the soft-key menu; false: a combobox's open list
    int soft_key = 1;  // menu: the key that opened it (0 left, 1 right)
    int source = -1;   // list: index of its combobox in ScreenSnapshot::controls
    std::vector<Item> items;
    int selected = 0;
};

struct ScreenSnapshot {
    enum class Page { None, Dialog, Plain };
    bool window = false;  // a program window is in front (otherwise the home screen)
    std::u16string title;
    std::u16string soft_left, soft_right;
    Page page = Page::None;  // the window under a message box, or the front window

    // Page::Dialog: the template's size and font, the visible controls in template order.
    int dialog_id = 0;
    int point_size = 8;
    int dialog_cx = 0, dialog_cy = 0;
    std::vector<ControlShot> controls;
    int focus = -1;  // index into controls

    std::vector<std::u16string> body;  // Page::Plain: its lines

    std::optional<PopupShot> popup;
    std::optional<std::u16string> message_box;  // its text; its caption is the title

    std::optional<ShellFacts> shell;  // when a source is installed
};

// The screen a dialog shows as it opens from `dialog`, before its program sets anything:
// every control visible and enabled, nothing ticked, selected or focused.
ScreenSnapshot template_snapshot(const DialogTemplate& dialog);

// What the windows of this host show now, without the shell's facts. Thread-safe; takes
// the window lock once.
ScreenSnapshot snapshot_windows();

// The template of the dialog that `window` belongs to (itself or its top-level window);
// 0 when that is no dialog or the window is gone. Thread-safe.
int dialog_template_of(HWND window);

}  // namespace handset
