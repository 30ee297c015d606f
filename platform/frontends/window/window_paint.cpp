// The phone window's painting: the handset's body and keys, the enlarged screen and the
// panel, in the window's own colours.
#include "platform/frontends/window/window_paint.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/handset/core/utf.h"
#include "platform/windows.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {

namespace {
const std::filesystem::path kPanelFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
}  // namespace

std::unique_ptr<PixelFont> load_panel_font(std::string& warning, std::string& error) {
    std::string dejavu_error;
    if (auto font = PixelFont::load(kPanelFontFile, dejavu_error)) {
        // Event lines carry the program's Korean texts, which DejaVu has no glyphs for.
        std::string fallback_error;
        if (!font->add_fallback(kSystemFontFile, fallback_error))
            warning = "Hangul in the panel shows as boxes: " + fallback_error + " (Debian package fonts-baekmuk)";
        return font;
    }
    // Without it the panel is still there, in the handset's font, which draws `\` as `₩`.
    auto font = PixelFont::load(kSystemFontFile, error);
    if (font) warning = "the panel's font is missing (Debian package fonts-dejavu-core): " + dejavu_error;
    return font;
}

namespace {

namespace colours {
constexpr Colour kDesk = 0xD8DCE2;
constexpr Colour kBody = 0x2E3440;
constexpr Colour kBodyEdge = 0x1C2028;
constexpr Colour kEarpiece = 0x151820;
constexpr Colour kKey = 0x4C566A;
constexpr Colour kSoftKey = 0x5E81AC;
constexpr Colour kActionKey = 0x81A1C1;
constexpr Colour kPowerKey = 0xBF616A;
constexpr Colour kKeyText = 0xF2F4F8;
constexpr Colour kPanel = 0xF7F8FA;
constexpr Colour kPanelEdge = 0xB8BEC8;
constexpr Colour kText = 0x1E2430;
constexpr Colour kHeading = 0x1E3C78;
constexpr Colour kLabel = 0x5A6270;
constexpr Colour kCommand = 0x1E3C78;
constexpr Colour kOutput = 0x0E6E78;
constexpr Colour kError = 0xB0202A;
constexpr Colour kHelpBar = 0x2E3440;
constexpr Colour kHelpText = 0xF2F4F8;
constexpr Colour kButton = 0x4C566A;
constexpr Colour kButtonText = 0xF2F4F8;
constexpr Colour kButtonOff = 0xE2E5EA;
constexpr Colour kButtonOffText = 0x9AA0AA;
constexpr Colour kChosen = 0x1E3C78;
constexpr Colour kStrip = 0xFFF6D8;
constexpr Colour kStripEdge = 0xB89B4A;
}  // namespace colours

constexpr char32_t kEllipsis = U'…';

// Where the fields of a line begin: a word with `=` in it starts a field that runs to
// the next such word, so that a value with spaces (a device path) is one field; a line
// without any is split into its words.
std::vector<std::size_t> field_starts(std::u32string_view text) {
    std::vector<std::size_t> starts, words;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == U' ' || (i > 0 && text[i - 1] != U' ')) continue;
        words.push_back(i);
        const std::size_t end = std::min(text.find(U' ', i), text.size());
        if (text.substr(i, end - i).find(U'=') != std::u32string_view::npos) starts.push_back(i);
    }
    return starts.empty() ? words : starts;
}


// A rectangle with its corners rounded off by `radius`.
void fill_rounded(Canvas& canvas, const Rect& r, int radius, Colour colour) {
    radius = std::min({radius, r.w / 2, r.h / 2});
    for (int row = 0; row < r.h; ++row) {
        int inset = 0;
        const int from_edge = std::min(row, r.h - 1 - row);
        if (from_edge < radius) {
            const double dy = radius - from_edge - 0.5;
            inset = static_cast<int>(std::lround(radius - std::sqrt(std::max(0.0, radius * radius - dy * dy))));
        }
        canvas.hline(r.x + inset, r.right() - inset, r.y + row, colour);
    }
}

}  // namespace

std::u32string shorten_line(std::u32string_view text, int width,
                            const std::function<int(std::u32string_view)>& width_of) {
    if (width_of(text) <= width) return std::u32string(text);
    // The longest field's value (after its `=`), less any trailing spaces.
    const std::vector<std::size_t> starts = field_starts(text);
    std::size_t from = 0, to = 0;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::size_t begin = starts[i];
        std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        while (end > begin && text[end - 1] == U' ') --end;
        const std::size_t equals = text.substr(begin, end - begin).find(U'=');
        if (equals != std::u32string_view::npos) begin += equals + 1;
        if (end - begin > to - from) from = begin, to = end;
    }
    // The fewest characters taken out of its middle that let the line fit.
    const auto without = [&](std::size_t cut) {
        const std::size_t keep = (to - from) - cut;
        const std::size_t head = from + (keep + 1) / 2, tail = to - keep / 2;
        std::u32string out(text.substr(0, head));
        out += kEllipsis;
        out += text.substr(tail);
        return out;
    };
    if (to > from && width_of(without(to - from)) <= width) {
        std::size_t low = 1, high = to - from;  // high always fits
        while (low < high) {
            const std::size_t mid = (low + high) / 2;
            if (width_of(without(mid)) <= width) high = mid;
            else low = mid + 1;
        }
        return without(high);
    }
    // Its end, then: the longest start that fits before "…".
    std::size_t low = 0, high = text.size();
    const auto start = [&](std::size_t n) { return std::u32string(text.substr(0, n)) + kEllipsis; };
    if (width_of(start(0)) > width) return U"";
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        if (width_of(start(mid)) <= width) low = mid;
        else high = mid - 1;
    }
    return start(low);
}

std::u32string code_points_of(std::string_view utf8) {
    const std::u16string text = to_utf16(utf8);
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) out += next_code_point(text, i);
    return out;
}

void WindowPainter::desk(Canvas& canvas, const Image& frame) const {
    canvas.fill({0, 0, frame.width, frame.height}, colours::kDesk);
}

std::u32string WindowPainter::shorten(std::u32string_view text, int width) const {
    return shorten_line(text, width, [this](std::u32string_view t) { return font_.width(layout_.panel_font_px, t); });
}

int WindowPainter::text_line(Canvas& canvas, int x, int top, int width, std::u32string_view text, Colour colour) const {
    const PixelFont::Metrics m = font_.metrics(layout_.panel_font_px);
    const int h = line_height();
    const Canvas::Clip clip(canvas, {x, top, width, h});
    font_.draw(canvas, x, top + (h - m.height) / 2 + m.ascent, layout_.panel_font_px, shorten(text, width), colour);
    return h;
}

std::vector<std::u32string> WindowPainter::wrap(std::u32string_view text, int width) const {
    std::vector<std::u32string> lines(1);
    for (char32_t c : text) {
        std::u32string& line = lines.back();
        if (!line.empty() && font_.width(layout_.panel_font_px, line + c) > width) {
            // Break after the line's last space when it has one, else inside the word.
            const std::size_t space = line.rfind(U' ');
            std::u32string rest = space == std::u32string::npos || space == 0 ? U"" : line.substr(space + 1);
            if (!rest.empty()) line.erase(space + 1);
            lines.push_back(std::move(rest));
        }
        lines.back() += c;
    }
    return lines;
}

std::vector<std::u32string> WindowPainter::wrap_groups(std::u32string_view text, int width) const {
    std::vector<std::u32string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find(U"  ", at);
        if (end == std::u32string_view::npos) end = text.size();
        const std::u32string_view group = text.substr(at, end - at);
        at = std::min(text.size(), end + 2);
        if (!lines.empty() && font_.width(layout_.panel_font_px, lines.back() + U"  " + std::u32string(group)) <= width) {
            lines.back() += U"  " + std::u32string(group);
            continue;
        }
        for (auto& piece : wrap(group, width)) lines.push_back(std::move(piece));
    }
    return lines;
}

void WindowPainter::body(Canvas& canvas) const {
    const Rect& body = layout_.body;
    const int radius = layout_.screen.x - body.x;
    fill_rounded(canvas, body, radius + 2, colours::kBodyEdge);
    fill_rounded(canvas, body.inset(2), radius, colours::kBody);
    const int slot_width = layout_.screen.w / 5;
    const int slot_top = body.y + (layout_.screen.y - body.y) / 2 - 3;
    fill_rounded(canvas, {body.x + (body.w - slot_width) / 2, slot_top, slot_width, 6}, 3, colours::kEarpiece);
    canvas.frame({layout_.screen.x - 2, layout_.screen.y - 2, layout_.screen.w + 4, layout_.screen.h + 4},
                 colours::kEarpiece);

    const PixelFont::Metrics m = font_.metrics(layout_.key_font_px);
    for (const WindowKey& key : layout_.keys) {
        Colour colour = colours::kKey;
        if (key.vk == VK_TSOFT1 || key.vk == VK_TSOFT2) colour = colours::kSoftKey;
        if (key.vk == VK_RETURN) colour = colours::kActionKey;
        if (!key.vk) colour = colours::kPowerKey;
        fill_rounded(canvas, key.rect, key.rect.h / 3, colour);
        const std::u32string label = code_points_of(key.label);
        const int x = key.rect.x + (key.rect.w - font_.width(layout_.key_font_px, label)) / 2;
        const int baseline = key.rect.y + (key.rect.h - m.height) / 2 + m.ascent;
        font_.draw(canvas, x, baseline, layout_.key_font_px, label, colours::kKeyText);
    }
}

void WindowPainter::screen(Image& frame, const Image* screen) const {
    const Rect& to = layout_.screen;
    if (!screen) {
        Canvas(frame).fill(to, colours::kEarpiece);
        return;
    }
    const int scale = (to.w / screen->width);
    for (int y = 0; y < screen->height; ++y) {
        for (int x = 0; x < screen->width; ++x) {
            const Colour c = screen->at(x, y);
            for (int dy = 0; dy < scale; ++dy) {
                Colour* row = &frame.pixels[static_cast<std::size_t>((to.y + y * scale + dy) * frame.width + to.x + x * scale)];
                std::fill(row, row + scale, c);
            }
        }
    }
}

void WindowPainter::controls(Canvas& canvas, const PanelView& view) const {
    const int px = layout_.panel_font_px;
    const PixelFont::Metrics m = font_.metrics(px);
    for (std::size_t i = 0; i < layout_.controls.size(); ++i) {
        const WindowControl& c = layout_.controls[i];
        const bool enabled = i < view.enabled.size() && view.enabled[i];
        // A setting's disabled button is the setting in force: it shows as chosen.
        const bool chosen = !enabled && c.control->choice;
        Colour fill = enabled ? colours::kButton : chosen ? colours::kChosen : colours::kButtonOff;
        Colour ink = enabled || chosen ? colours::kButtonText : colours::kButtonOffText;
        fill_rounded(canvas, c.rect, c.rect.h / 4, fill);
        const std::u32string label = shorten(code_points_of(c.control->label), c.rect.w - 4);
        const int x = c.rect.x + (c.rect.w - font_.width(px, label)) / 2;
        font_.draw(canvas, x, c.rect.y + (c.rect.h - m.height) / 2 + m.ascent, px, label, ink);
    }
}

void WindowPainter::full_line_strip(Canvas& canvas, const PanelView& view, const std::vector<ShownLine>& shown) const {
    if (!view.pointer) return;
    const auto [px, py] = *view.pointer;
    for (const ShownLine& line : shown) {
        if (!line.shortened || !line.rect.contains(px, py)) continue;
        const int pad = layout_.panel_font_px / 3;
        const std::vector<std::u32string> lines = wrap(line.full, line.rect.w - 2 * pad);
        const int h = static_cast<int>(lines.size()) * line_height() + 2 * pad;
        // Below the line when there is room in the panel, else above it.
        int top = line.rect.bottom();
        if (top + h > layout_.panel.bottom()) top = line.rect.y - h;
        const Rect strip{line.rect.x, top, line.rect.w, h};
        canvas.fill(strip, colours::kStrip);
        canvas.frame(strip, colours::kStripEdge);
        int y = top + pad;
        for (const auto& piece : lines) y += text_line(canvas, strip.x + pad, y, strip.w - 2 * pad, piece, colours::kText);
        return;
    }
}

std::vector<ShownLine> WindowPainter::panel(Canvas& canvas, const PanelView& view, const ConsoleLog& log) const {
    const Rect& panel = layout_.panel;
    canvas.fill(panel, colours::kPanel);
    canvas.frame(panel, colours::kPanelEdge);
    const int pad = layout_.panel_font_px / 2;
    const int x = panel.x + pad;
    const int width = panel.w - 2 * pad;
    const int lh = line_height();

    text_line(canvas, x, panel.y + pad, width, U"Phone", colours::kHeading);
    // Each row at its own place; its value ends where the row's first control begins.
    for (std::size_t i = 0; i < view.rows.size(); ++i) {
        const int top = layout_.rows_top + static_cast<int>(i) * layout_.row_height;
        const int text_top = top + (layout_.row_height - lh) / 2;
        int value_end = panel.right() - pad;
        for (const WindowControl& c : layout_.controls)
            if (c.rect.y >= top && c.rect.y < top + layout_.row_height) value_end = std::min(value_end, c.rect.x - pad);
        const int value_x = x + layout_.label_width;
        text_line(canvas, x, text_top, layout_.label_width - pad, code_points_of(view.rows[i].first), colours::kLabel);
        text_line(canvas, value_x, text_top, value_end - value_x, code_points_of(view.rows[i].second), colours::kText);
    }
    controls(canvas, view);

    // The bottom: what runs or the last message, then the command line or the keys' help.
    std::vector<std::pair<std::u32string, Colour>> bottom;
    for (auto& line : wrap(code_points_of(view.status), width))
        bottom.emplace_back(std::move(line), view.status_is_error ? colours::kError : colours::kText);
    const bool editing = view.editing;
    std::vector<std::u32string> last_lines =
        editing ? wrap(code_points_of(view.last_line), width) : wrap_groups(code_points_of(view.last_line), width);
    if (editing && last_lines.size() > 2) last_lines.erase(last_lines.begin(), last_lines.end() - 2);  // keep the end in view
    const int bar_top = panel.bottom() - pad - static_cast<int>(last_lines.size()) * lh;
    canvas.fill({panel.x + 1, bar_top - 2, panel.w - 2, panel.bottom() - bar_top + 1},
                editing ? colours::kPanel : colours::kHelpBar);
    int by = bar_top;
    for (const auto& line : last_lines)
        by += text_line(canvas, x, by, width, line, editing ? colours::kText : colours::kHelpText);
    const int events_bottom = bar_top - 2 - static_cast<int>(bottom.size()) * lh;
    int status_top = events_bottom;
    for (const auto& [line, colour] : bottom) status_top += text_line(canvas, x, status_top, width, line, colour);

    int y = layout_.events_top;
    const std::string heading =
        view.scroll == 0 ? "Events" : "Events, " + std::to_string(view.scroll) + " back (End: the newest)";
    y += text_line(canvas, x, y, width, code_points_of(heading), colours::kHeading);
    // The latest lines that fit: an event takes one row, shortened to fit; a command's
    // output wraps.
    const int room = std::max(0, (events_bottom - y) / lh);
    struct Piece {
        std::u32string text;
        Colour colour;
    };
    std::vector<Piece> pieces_shown;
    const std::vector<ConsoleLine> lines = log.latest(static_cast<std::size_t>(room), view.scroll);
    for (auto it = lines.rbegin(); it != lines.rend() && static_cast<int>(pieces_shown.size()) < room; ++it) {
        Colour colour = colours::kText;
        if (it->kind == ConsoleLine::Kind::Command) colour = colours::kCommand;
        if (it->kind == ConsoleLine::Kind::Error) colour = colours::kError;
        if (it->kind == ConsoleLine::Kind::Output || it->kind == ConsoleLine::Kind::Info) colour = colours::kOutput;
        const std::u32string text = code_points_of(it->text);
        std::vector<std::u32string> pieces =
            it->kind == ConsoleLine::Kind::Event ? std::vector<std::u32string>{text} : wrap(text, width);
        for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece)
            pieces_shown.push_back({std::move(*piece), colour});
    }
    if (static_cast<int>(pieces_shown.size()) > room) pieces_shown.resize(static_cast<std::size_t>(room));
    std::vector<ShownLine> shown;
    for (auto it = pieces_shown.rbegin(); it != pieces_shown.rend(); ++it) {
        const bool shortened = font_.width(layout_.panel_font_px, it->text) > width;
        shown.push_back({{x, y, width, lh}, shortened, shortened ? it->text : std::u32string()});
        y += text_line(canvas, x, y, width, it->text, it->colour);
    }
    full_line_strip(canvas, view, shown);
    return shown;
}

}  // namespace frontends
