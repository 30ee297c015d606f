// The phone window's painting: the handset's body and keys, the enlarged screen and the
// panel, in the window's own colours.
#include "platform/frontend/window_paint.h"

#include <algorithm>
#include <cmath>

#include "platform/handset/core/utf.h"
#include "platform/windows.h"

namespace handset::frontend {
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
}  // namespace colours


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

std::u32string code_points_of(std::string_view utf8) {
    const std::u16string text = to_utf16(utf8);
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) out += next_code_point(text, i);
    return out;
}

void WindowPainter::desk(Canvas& canvas) const { canvas.fill({0, 0, layout_.width, layout_.height}, colours::kDesk); }

int WindowPainter::text_line(Canvas& canvas, int x, int top, int width, std::u32string_view text, Colour colour) const {
    const PixelFont::Metrics m = font_.metrics(layout_.panel_font_px);
    const Canvas::Clip clip(canvas, {x, top, width, m.height + 2});
    font_.draw(canvas, x, top + 1 + m.ascent, layout_.panel_font_px, text, colour);
    return m.height + 2;
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

void WindowPainter::panel(Canvas& canvas, const PanelView& view, const ConsoleLog& log) const {
    const Rect& panel = layout_.panel;
    canvas.fill(panel, colours::kPanel);
    canvas.frame(panel, colours::kPanelEdge);
    const int pad = layout_.panel_font_px / 2;
    const int x = panel.x + pad;
    const int width = panel.w - 2 * pad;
    const int lh = line_height();
    int y = panel.y + pad;

    y += text_line(canvas, x, y, width, U"Phone", colours::kHeading);
    int label_width = 0;
    std::vector<std::pair<std::u32string, std::u32string>> shown;
    for (const auto& [label, value] : view.rows) {
        shown.emplace_back(code_points_of(label), code_points_of(value));
        label_width = std::max(label_width, font_.width(layout_.panel_font_px, shown.back().first));
    }
    label_width += layout_.panel_font_px;
    for (const auto& [label, value] : shown) {
        text_line(canvas, x, y, label_width, label, colours::kLabel);
        y += text_line(canvas, x + label_width, y, width - label_width, value, colours::kText);
    }

    // The bottom: what runs or the last message, then the command line or the keys' help.
    std::vector<std::pair<std::u32string, Colour>> bottom;
    for (auto& line : wrap(code_points_of(view.status), width))
        bottom.emplace_back(std::move(line), view.status_is_error ? colours::kError : colours::kText);
    const bool editing = view.editing;
    const std::u32string last = code_points_of(view.last_line);
    std::vector<std::u32string> last_lines = wrap(last, width);
    if (editing && last_lines.size() > 2) last_lines.erase(last_lines.begin(), last_lines.end() - 2);  // keep the end in view
    const int bar_top = panel.bottom() - pad - static_cast<int>(last_lines.size()) * lh;
    canvas.fill({panel.x + 1, bar_top - 2, panel.w - 2, panel.bottom() - bar_top + 1},
                editing ? colours::kPanel : colours::kHelpBar);
    int by = bar_top;
    for (const auto& line : last_lines)
        by += text_line(canvas, x, by, width, line, editing ? colours::kText : colours::kHelpText);
    int status_top = bar_top - 2 - static_cast<int>(bottom.size()) * lh;
    for (const auto& [line, colour] : bottom) status_top += text_line(canvas, x, status_top, width, line, colour);
    const int events_bottom = bar_top - 2 - static_cast<int>(bottom.size()) * lh;

    y += lh / 2;
    y += text_line(canvas, x, y, width, U"Events", colours::kHeading);
    // The latest lines that fit: an event takes one row, a command's output wraps.
    const int room = std::max(0, (events_bottom - y) / lh);
    std::vector<std::pair<std::u32string, Colour>> lines_shown;
    const std::vector<ConsoleLine> lines = log.latest(static_cast<std::size_t>(room));
    for (auto it = lines.rbegin(); it != lines.rend() && static_cast<int>(lines_shown.size()) < room; ++it) {
        Colour colour = colours::kText;
        if (it->kind == ConsoleLine::Kind::Command) colour = colours::kCommand;
        if (it->kind == ConsoleLine::Kind::Error) colour = colours::kError;
        if (it->kind == ConsoleLine::Kind::Output || it->kind == ConsoleLine::Kind::Info) colour = colours::kOutput;
        const std::u32string text = code_points_of(it->text);
        std::vector<std::u32string> pieces =
            it->kind == ConsoleLine::Kind::Event ? std::vector<std::u32string>{text} : wrap(text, width);
        for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) lines_shown.emplace_back(std::move(*piece), colour);
    }
    if (static_cast<int>(lines_shown.size()) > room) lines_shown.resize(static_cast<std::size_t>(room));
    for (auto it = lines_shown.rbegin(); it != lines_shown.rend(); ++it)
        y += text_line(canvas, x, y, width, it->first, it->second);
}

}  // namespace handset::frontend
