// Internal to the pixel screen: the painter that draws one snapshot onto a canvas. The
// dialog's controls are painted in pixel_screen.cpp; the title and soft-key bars,
// popups, message boxes and the shell's home and lock screens in pixel_chrome.cpp.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handset/display/pixel_screen.h"

namespace handset::pixels {

// UTF-16 to code points; control characters other than line breaks become spaces.
std::u32string code_points(std::u16string_view text);

class Painter {
public:
    Painter(Canvas& canvas, PixelFont& font, const ScreenSnapshot& shot, const std::vector<ControlBox>& boxes,
            int dialog_pixels)
        : c_(canvas),
          font_(font),
          shot_(shot),
          boxes_(boxes),
          dialog_px_(dialog_pixels),
          system_px_(font_pixels(kSystemPointSize, kScreenDpi)) {}

    void paint();

private:
    // Text: `top` is the top of the line; the baseline follows from the font.
    int line_height(int pixels) { return font_.metrics(pixels).height; }
    void text(int x, int top, int pixels, std::u32string_view s, Colour colour);
    // One line in `r`, aligned across, centred down when `middle`.
    void text_in(const Rect& r, int pixels, std::u32string_view s, Colour colour, TextAlign align, bool middle);
    // Lines of at most `width` pixels, broken at spaces where possible and at line breaks.
    std::vector<std::u32string> wrap(std::u32string_view s, int width, int pixels);

    // pixel_screen.cpp
    void dialog();
    void control(const ControlShot& c, const ControlBox& box);
    void checkbox(const ControlShot& c, const ControlBox& box, Colour ink);
    void combobox(const ControlShot& c, const Rect& r, Colour ink, Colour face);
    void group(const ControlShot& c, const Rect& r, Colour ink);
    void static_text(const ControlShot& c, const Rect& r, Colour ink);
    void picture(const ControlShot& c, const Rect& r);

    // pixel_chrome.cpp
    void title_bar(std::u32string_view left, std::u32string_view right);
    void soft_keys(std::u32string_view left, std::u32string_view right);
    void plain_page();
    void popup_menu(const PopupShot& p);
    void drop_list(const PopupShot& p);
    void message_box(std::u16string_view message);
    // The shell's screens: model and clock in the title bar, the large clock and the date
    // from `clock_top`, then `rest` below them (given the first free line), one soft key.
    void shell_screen(const ShellFacts& s, Colour background, Colour ink, int clock_top, std::u32string_view soft_key,
                      const std::function<void(int top)>& rest);
    void home(const ShellFacts& s);
    void lock(const ShellFacts& s);

    Canvas& c_;
    PixelFont& font_;
    const ScreenSnapshot& shot_;
    const std::vector<ControlBox>& boxes_;
    int dialog_px_;
    int system_px_;
};

}  // namespace handset::pixels
