// What the phone window shows, painted in software into one image: the handset's body
// with its keys, the screen as the pixel renderer drew it enlarged by whole pixels, and
// the panel of device state, events and the command line. The window front end decides
// what goes in; this decides only where it goes and how it looks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/frontends/interactive/console.h"
#include "platform/frontends/window/window_layout.h"
#include "platform/handset/display/pixel_canvas.h"
#include "platform/handset/display/pixel_font.h"

namespace frontends {

// UTF-8 text as the font takes it, one code point a character.
std::u32string code_points_of(std::string_view utf8);

// The panel's font: DejaVu Sans (Debian's fonts-dejavu-core), with the handset's
// Baekmuk face for the Hangul it lacks; the handset's font alone, with a word in
// `warning`, when DejaVu is missing. Null with `error` when neither loads.
std::unique_ptr<handset::PixelFont> load_panel_font(std::string& warning, std::string& error);

// `text` within `width` as `width_of` measures it: whole when it fits, else with "…"
// for the middle of its longest field (the value of a `name=value`, which may hold
// spaces, or else a word), and where that is not enough, for its end. Empty when not
// even "…" fits.
std::u32string shorten_line(std::u32string_view text, int width,
                            const std::function<int(std::u32string_view)>& width_of);

// The panel's content at one moment.
struct PanelView {
    std::vector<std::pair<std::string, std::string>> rows;  // the device state, label and value
    std::vector<bool> enabled;  // for each of the layout's controls: it would do something
    std::string status;         // what runs, or the last message
    bool status_is_error = false;
    bool editing = false;       // the command line is open
    std::string last_line;      // the command line as typed, or the keys' help
    std::size_t scroll = 0;     // log lines scrolled back from the newest
    std::optional<std::pair<int, int>> pointer;  // over the window: its full line shows
};

// One line of the event list as drawn.
struct ShownLine {
    handset::Rect rect;
    bool shortened = false;
    std::u32string full;  // the whole line
};

class WindowPainter {
public:
    WindowPainter(const WindowLayout& layout, handset::PixelFont& font) : layout_(layout), font_(font) {}

    // The desk behind everything, to the edges of `frame` (a window larger than the layout).
    void desk(handset::Canvas& canvas, const handset::Image& frame) const;
    void body(handset::Canvas& canvas) const;
    // The handset's screen, enlarged to fill layout.screen; a dark screen without one.
    void screen(handset::Image& frame, const handset::Image* screen) const;
    // The panel; its event lines are the latest of `log` that fit, `view.scroll` lines
    // back. Returns the event lines drawn.
    std::vector<ShownLine> panel(handset::Canvas& canvas, const PanelView& view, const ConsoleLog& log) const;

private:
    // Draws one line of text with its top at `top`, shortened to `width`; returns the
    // line height.
    int text_line(handset::Canvas& canvas, int x, int top, int width, std::u32string_view text,
                  handset::Colour colour) const;
    // `text` cut into lines no wider than `width`.
    std::vector<std::u32string> wrap(std::u32string_view text, int width) const;
    // The same, keeping the groups that two spaces part (the keys' help) whole on a line.
    std::vector<std::u32string> wrap_groups(std::u32string_view text, int width) const;
    std::u32string shorten(std::u32string_view text, int width) const;
    int line_height() const { return layout_.text_height; }
    void controls(handset::Canvas& canvas, const PanelView& view) const;
    // The full text of the line under the pointer, over the list, when it was shortened.
    void full_line_strip(handset::Canvas& canvas, const PanelView& view, const std::vector<ShownLine>& shown) const;

    const WindowLayout& layout_;
    handset::PixelFont& font_;  // caches its glyphs as it draws
};

}  // namespace frontends
