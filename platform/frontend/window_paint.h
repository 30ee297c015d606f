// What the phone window shows, painted in software into one image: the handset's body
// with its keys, the screen as the pixel renderer drew it enlarged by whole pixels, and
// the panel of device state, events and the command line. The window front end decides
// what goes in; this decides only where it goes and how it looks.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/frontend/console.h"
#include "platform/frontend/window_layout.h"
#include "platform/handset/window/pixel_canvas.h"
#include "platform/handset/window/pixel_font.h"

namespace handset::frontend {

// UTF-8 text as the font takes it, one code point a character.
std::u32string code_points_of(std::string_view utf8);

// The panel's content at one moment.
struct PanelView {
    std::vector<std::pair<std::string, std::string>> rows;  // the device state, label and value
    std::string status;                                      // what runs, or the last message
    bool status_is_error = false;
    bool editing = false;    // the command line is open
    std::string last_line;   // the command line as typed, or the keys' help
};

class WindowPainter {
public:
    WindowPainter(const WindowLayout& layout, PixelFont& font) : layout_(layout), font_(font) {}

    // The desk behind everything.
    void desk(Canvas& canvas) const;
    void body(Canvas& canvas) const;
    // The handset's screen, enlarged to fill layout.screen; a dark screen without one.
    void screen(Image& frame, const Image* screen) const;
    // The panel; its event lines are the latest of `log` that fit.
    void panel(Canvas& canvas, const PanelView& view, const ConsoleLog& log) const;

private:
    // Draws one line of text with its top at `top`, cut at `width`; returns the line height.
    int text_line(Canvas& canvas, int x, int top, int width, std::u32string_view text, Colour colour) const;
    // `text` cut into lines no wider than `width`.
    std::vector<std::u32string> wrap(std::u32string_view text, int width) const;
    int line_height() const { return font_.metrics(layout_.panel_font_px).height + 2; }

    const WindowLayout& layout_;
    PixelFont& font_;  // caches its glyphs as it draws
};

}  // namespace handset::frontend
