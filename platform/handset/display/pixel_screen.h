// The phone's screen in pixels: 320 x 240 (landscape) at 96 dots per inch, drawn from a
// screen snapshot as the platform draws it. The title bar runs along the top and the
// soft-key bar along the bottom; a dialog fills the body between them, its controls
// placed from dialog units through the base units of its template font (the average
// character width and the line height of that font at its point size), as the
// platform's dialog manager does with MapDialogRect.
//
// Front ends only display what this draws: write_screenshot() for the screenshot
// command, render_current_screen() for a window that shows the screen.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/handset/display/pixel_canvas.h"
#include "platform/handset/display/pixel_font.h"
#include "platform/handset/display/screen_snapshot.h"

namespace handset {

constexpr int kScreenWidthPx = 320;
constexpr int kScreenHeightPx = 240;
constexpr int kScreenDpi = 96;
constexpr int kTitleBarPx = 20;
constexpr int kSoftKeyBarPx = 22;
// Where a dialog's client area and the home screen go.
constexpr Rect kBodyRect{0, kTitleBarPx, kScreenWidthPx, kScreenHeightPx - kTitleBarPx - kSoftKeyBarPx};
// The shell's own texts (title bar, soft keys, menus) are in this size.
constexpr int kSystemPointSize = 9;
// The home screen shows a program's icon at the platform's large-icon size.
constexpr int kHomeIconPx = 32;

// The colours the screen is drawn in.
namespace palette {
constexpr Colour kBackground = 0xFFFFFF;
constexpr Colour kInk = 0x000000;
constexpr Colour kDisabled = 0x9A9A9A;
constexpr Colour kFrame = 0x5A6E8C;      // control borders, group box frames
constexpr Colour kFocus = 0x2A62C9;      // the focus mark's outline
constexpr Colour kFocusFill = 0xDCE7FA;  // behind the focused control
constexpr Colour kSelection = 0x2A62C9;  // the selected entry of a menu or list
constexpr Colour kSelectionText = 0xFFFFFF;
constexpr Colour kTitleBar = 0x1E3C78;
constexpr Colour kSoftKeyBar = 0x262626;
constexpr Colour kBarText = 0xFFFFFF;
constexpr Colour kHome = 0xEEF3FA;
constexpr Colour kLock = 0x1B2433;
}  // namespace palette

// Where a control of a snapshot is on the screen.
struct ControlBox {
    Rect rect;   // the control's window; it draws nothing outside it
    Rect check;  // a checkbox's box; empty for other kinds
    Rect list;   // a combobox's list when it drops: the rest of the template's height
};

// A dialog's dialog-unit scale for one template font: pixels of 4 horizontal and 8
// vertical dialog units.
struct BaseUnits {
    int x = 0, y = 0;
};

class PixelScreen {
public:
    // Loads the font; null with `error` when it is missing (see kSystemFontFile).
    static std::unique_ptr<PixelScreen> open(std::string& error,
                                             const std::filesystem::path& font_file = kSystemFontFile);

    BaseUnits base_units(int point_size);
    // A dialog's client size in pixels for its template (cx, cy in dialog units).
    Rect dialog_size(const DialogTemplate& dialog);
    // Each of shot.controls on the screen, in the same order.
    std::vector<ControlBox> layout(const ScreenSnapshot& shot);
    // The whole screen for `shot`. Thread-safe.
    Image render(const ScreenSnapshot& shot);

private:
    explicit PixelScreen(std::unique_ptr<PixelFont> font) : font_(std::move(font)) {}
    std::unique_ptr<PixelFont> font_;
};

// The process's pixel screen, opened on the first call (the font loads then, never at
// start-up); later calls return the same one. Null with `error` when it cannot open.
PixelScreen* shared_pixel_screen(std::string& error);

// The screen of this host now, at 1:1. False with `error` when the font is missing.
bool render_current_screen(Image& out, std::string& error);

// Writes the screen of this host now to a PNG file at 1:1 (320 x 240). False with
// `error` when the font is missing or the file cannot be written.
bool write_screenshot(const std::filesystem::path& path, std::string& error);

}  // namespace handset
