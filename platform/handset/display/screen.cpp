// The screen model: the phone's screen drawn as text cells from a screen snapshot.
#include "platform/handset/display/screen.h"

#include <algorithm>
#include <mutex>

#include "platform/handset/core/utf.h"

namespace handset {
namespace {

int char_width(char32_t c) {
    if (c == 0) return 0;
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1160 && c <= 0x11FF) || (c >= 0x200B && c <= 0x200F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
                      (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

std::u32string code_points(std::u16string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = next_code_point(text, i);
        if (c < 0x20 || c == 0x7F) c = U' ';
        out.push_back(c);
    }
    return out;
}

int cells_of(std::u32string_view text) {
    int n = 0;
    for (char32_t c : text) n += char_width(c);
    return n;
}

// Rows of character cells; a wide character fills its cell and the continuation after it.
class Grid {
public:
    Grid(int rows, int cols) : rows_(rows), cols_(cols), cells_(static_cast<std::size_t>(rows * cols)) {}

    void put(int r, int c, char32_t ch) {
        const int w = char_width(ch);
        if (w == 0 || r < 0 || r >= rows_ || c < 0 || c + w > cols_) return;
        for (int i = c; i < c + w; ++i) clear(r, i);
        at(r, c) = {ch, false};
        if (w == 2) at(r, c + 1) = {0, true};
    }

    // Writes `text` from column c, at most `max` cells; returns the cells used.
    int text(int r, int c, std::u32string_view text, int max) {
        max = std::min(max, cols_ - c);
        int used = 0;
        for (char32_t ch : text) {
            const int w = char_width(ch);
            if (used + w > max) break;
            put(r, c + used, ch);
            used += w;
        }
        return used;
    }

    void fill(int r, int c0, int c1, char32_t ch) {
        for (int c = c0; c < c1; ++c) put(r, c, ch);
    }

    std::string line(int r) const {
        std::string out;
        for (int c = 0; c < cols_; ++c) {
            const Cell& cell = cells_[static_cast<std::size_t>(r * cols_ + c)];
            if (!cell.cont) append_utf8(out, cell.ch);
        }
        return out;
    }

    int rows() const { return rows_; }
    int cols() const { return cols_; }

private:
    struct Cell {
        char32_t ch = U' ';
        bool cont = false;
    };
    Cell& at(int r, int c) { return cells_[static_cast<std::size_t>(r * cols_ + c)]; }
    // Blanks a cell, and the other half of a wide character it belongs to.
    void clear(int r, int c) {
        Cell& cell = at(r, c);
        if (cell.cont && c > 0) at(r, c - 1) = {U' ', false};
        else if (!cell.cont && char_width(cell.ch) == 2 && c + 1 < cols_) at(r, c + 1) = {U' ', false};
        cell = {U' ', false};
    }
    int rows_;
    int cols_;
    std::vector<Cell> cells_;
};

std::string line_of(std::u32string_view text, bool right_align = false) {
    Grid g(1, kScreenColumns);
    const int n = std::min(cells_of(text), kScreenColumns);
    g.text(0, right_align ? kScreenColumns - n : 0, text, kScreenColumns);
    return g.line(0);
}

// Breaks text into lines of at most `width` cells, at spaces where possible.
std::vector<std::u32string> wrap(std::u32string_view text, int width) {
    std::vector<std::u32string> lines;
    std::u32string line;
    int cells = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == U' ') {
            ++i;
            continue;
        }
        std::size_t end = text.find(U' ', i);
        if (end == std::u32string_view::npos) end = text.size();
        std::u32string_view word = text.substr(i, end - i);
        const int w = cells_of(word);
        const int need = (line.empty() ? 0 : 1) + w;
        if (cells + need <= width) {
            if (!line.empty()) line.push_back(U' ');
            line += word;
            cells += need;
            i = end;
            continue;
        }
        if (!line.empty()) {
            lines.push_back(line);
            line.clear();
            cells = 0;
            continue;
        }
        // A word longer than the line is cut.
        for (char32_t c : word) {
            const int cw = char_width(c);
            if (cells + cw > width) {
                lines.push_back(line);
                line.clear();
                cells = 0;
            }
            line.push_back(c);
            cells += cw;
        }
        i = end;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

struct Box {
    int col, row, width, rows;
};

Box box_of(const ControlShot& c) {
    return {c.x / 4, c.y / 8, std::max(1, c.cx / 4), std::max(1, c.cy / 8)};
}

void draw_frame(Grid& g, int top, int left, int bottom, int right) {
    g.put(top, left, U'┌');
    g.fill(top, left + 1, right, U'─');
    g.put(top, right, U'┐');
    for (int r = top + 1; r < bottom; ++r) {
        g.put(r, left, U'│');
        g.put(r, right, U'│');
    }
    g.put(bottom, left, U'└');
    g.fill(bottom, left + 1, right, U'─');
    g.put(bottom, right, U'┘');
}

void clear_area(Grid& g, int top, int left, int bottom, int right) {
    for (int r = top; r <= bottom; ++r) g.fill(r, left, right + 1, U' ');
}

void draw_group(Grid& g, const ControlShot& c) {
    const Box b = box_of(c);
    const int right = std::min(kScreenColumns - 1, (c.x + c.cx) / 4);
    const int bottom = std::min(kScreenRows - 1, (c.y + c.cy) / 8);
    if (right - b.col < 2 || bottom <= b.row) return;
    draw_frame(g, b.row, b.col, bottom, right);
    // A disabled group box has its mark right after the top-left corner.
    if (!c.enabled) g.put(b.row, b.col + 1, U'~');
    const std::u32string label = code_points(c.text);
    if (!label.empty()) g.text(b.row, b.col + 2, label, right - b.col - 3);
}

void draw_picture(Grid& g, const ControlShot& c) {
    const Box b = box_of(c);
    const ImageResource* image = find_bitmap(c.image_id);
    if (!image || image->width <= 0 || image->height <= 0 ||
        (image->bits_per_pixel != 24 && image->bits_per_pixel != 32)) {
        g.text(b.row, b.col, U"[image]", b.width);
        return;
    }
    static constexpr std::u32string_view kRamp = U" .:-=+*#%@";
    const int bytes = image->bits_per_pixel / 8;
    const std::size_t stride = static_cast<std::size_t>(image->width) * bytes;
    if (image->pixels.size() < stride * image->height) return;
    for (int row = 0; row < b.rows; ++row) {
        for (int col = 0; col < b.width; ++col) {
            const int x0 = col * image->width / b.width, x1 = std::max(x0 + 1, (col + 1) * image->width / b.width);
            const int y0 = row * image->height / b.rows, y1 = std::max(y0 + 1, (row + 1) * image->height / b.rows);
            long long sum = 0, n = 0;
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* line = &image->pixels[(image->height - 1 - y) * stride];  // rows are bottom-up
                for (int x = x0; x < x1; ++x) {
                    const std::uint8_t* p = line + static_cast<std::size_t>(x) * bytes;
                    int lum = (p[2] * 299 + p[1] * 587 + p[0] * 114) / 1000;
                    if (bytes == 4) lum = (lum * p[3] + 255 * (255 - p[3])) / 255;  // over white
                    sum += lum;
                    ++n;
                }
            }
            const int lum = static_cast<int>(sum / n);
            const int index = ((255 - lum) * static_cast<int>(kRamp.size() - 1) + 127) / 255;
            g.put(b.row + row, b.col + col, kRamp[index]);
        }
    }
}

void draw_static(Grid& g, const ControlShot& c) {
    const Box b = box_of(c);
    const std::u32string text = code_points(c.text);
    if (text.empty()) return;
    std::vector<std::u32string> lines;
    if (b.rows > 1 && cells_of(text) > b.width) lines = wrap(text, b.width);
    else lines.push_back(text);
    for (int i = 0; i < static_cast<int>(lines.size()) && i < b.rows; ++i) {
        const int cells = cells_of(lines[i]);
        int col = b.col;
        if (c.align == TextAlign::Center && cells < b.width) col += (b.width - cells) / 2;
        if (c.align == TextAlign::Right && cells < b.width) col += b.width - cells;
        if (i == 0 && !c.enabled) {
            // The mark of a disabled text sits in the cell before it.
            if (col == 0) col = 1;
            g.put(b.row, col - 1, U'~');
        }
        // Left-aligned text may run on to the screen's edge; the dialog units of the
        // template were made for a narrower font.
        const int max = c.align == TextAlign::Left ? kScreenColumns : b.col + b.width - col;
        g.text(b.row + i, col, lines[i], max);
    }
}

void draw_control(Grid& g, const ControlShot& c) {
    const Box b = box_of(c);
    // Disabled controls trade their brackets for parentheses.
    const bool on = c.enabled;
    switch (c.kind) {
    case ControlKind::Checkbox: {
        std::u32string box = on ? U"[ ] " : U"( ) ";
        if (c.checked) box[1] = U'x';
        g.text(b.row, b.col, box + code_points(c.text), kScreenColumns);
        break;
    }
    case ControlKind::ComboBox: {
        const int inner = std::max(1, b.width - 2);
        const std::u32string text = code_points(c.text);  // the selected entry
        std::u32string shown;
        int used = 0;
        for (char32_t ch : text) {
            if (used + char_width(ch) > inner) break;
            shown.push_back(ch);
            used += char_width(ch);
        }
        shown.append(static_cast<std::size_t>(inner - used), U' ');
        g.text(b.row, b.col, (on ? U"<" : U"(") + shown + (on ? U">" : U")"), kScreenColumns);
        break;
    }
    case ControlKind::Button:
        g.text(b.row, b.col, (on ? U"[" : U"(") + code_points(c.text) + (on ? U"]" : U")"), kScreenColumns);
        break;
    case ControlKind::Static:
        draw_static(g, c);
        break;
    case ControlKind::Picture:
        draw_picture(g, c);
        if (!on && b.col > 0) g.put(b.row, b.col - 1, U'~');
        break;
    case ControlKind::GroupBox:
        draw_group(g, c);
        break;
    }
}

// Group boxes go first: the controls inside them draw over their frames.
void draw_dialog(Grid& g, const ScreenSnapshot& shot) {
    for (const ControlShot& c : shot.controls)
        if (c.kind == ControlKind::GroupBox) draw_control(g, c);
    for (const ControlShot& c : shot.controls)
        if (c.kind != ControlKind::GroupBox) draw_control(g, c);
    if (shot.focus >= 0 && shot.focus < static_cast<int>(shot.controls.size())) {
        const Box b = box_of(shot.controls[shot.focus]);
        if (b.col > 0) g.put(b.row, b.col - 1, U'>');
    }
}

void draw_popup(Grid& g, const ScreenSnapshot& shot) {
    const PopupShot& p = *shot.popup;
    const int n = static_cast<int>(p.items.size());
    if (n == 0) return;
    const bool menu = p.menu;
    std::vector<std::u32string> labels;
    int number = 0;
    int text_width = 0;
    for (const auto& item : p.items) {
        std::u32string label;
        if (!item.separator) {
            ++number;
            if (menu) label = (number <= 9 ? std::u32string(1, U'0' + number) : U" ") + U" ";
            label += code_points(item.text);
        }
        text_width = std::max(text_width, cells_of(label));
        labels.push_back(label);
    }
    // A marker column, the label, one blank; never wider than the screen.
    const int width = std::min(kScreenColumns, text_width + 4);
    const int visible = std::min(n, kScreenRows - 2);
    int first = 0;
    if (p.selected >= visible) first = p.selected - visible + 1;
    int top_row = kScreenRows - visible - 2;
    int left = menu && p.soft_key == 1 ? kScreenColumns - width : 0;
    // A list drops from its combobox.
    if (!menu && p.source >= 0 && p.source < static_cast<int>(shot.controls.size())) {
        const Box b = box_of(shot.controls[p.source]);
        top_row = std::min(b.row + 1, kScreenRows - visible - 2);
        left = std::min(b.col, kScreenColumns - width);
    }
    const int right = left + width - 1, bottom = top_row + visible + 1;
    clear_area(g, top_row, left, bottom, right);
    draw_frame(g, top_row, left, bottom, right);
    for (int i = 0; i < visible; ++i) {
        const int index = first + i, row = top_row + 1 + i;
        if (p.items[index].separator) {
            g.put(row, left, U'├');
            g.fill(row, left + 1, right, U'─');
            g.put(row, right, U'┤');
            continue;
        }
        if (index == p.selected) g.put(row, left + 1, U'>');
        g.text(row, left + 2, labels[index], width - 3);
    }
}

void draw_message_box(Grid& g, std::u16string_view message) {
    auto lines = wrap(code_points(message), kScreenColumns - 8);
    if (lines.empty()) lines.emplace_back();
    int text_width = 0;
    for (auto& l : lines) text_width = std::max(text_width, cells_of(l));
    const int width = std::max(text_width, 10) + 4;
    const int max_lines = kScreenRows - 2;
    if (static_cast<int>(lines.size()) > max_lines) lines.resize(max_lines);
    const int pad = static_cast<int>(lines.size()) + 4 <= kScreenRows ? 1 : 0;
    const int height = static_cast<int>(lines.size()) + 2 + 2 * pad;
    const int top = (kScreenRows - height) / 2, left = (kScreenColumns - width) / 2;
    const int bottom = top + height - 1, right = left + width - 1;
    clear_area(g, top, left, bottom, right);
    draw_frame(g, top, left, bottom, right);
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const int cells = cells_of(lines[i]);
        g.text(top + 1 + pad + i, left + 2 + (width - 4 - cells) / 2, lines[i], width - 4);
    }
}

std::mutex g_home_mu;
std::function<std::vector<std::string>()> g_home_renderer;

std::vector<std::string> empty_screen() {
    return std::vector<std::string>(kScreenRows + 2, std::string(kScreenColumns, ' '));
}

}  // namespace

int text_cells(std::u16string_view text) { return cells_of(code_points(text)); }

void set_home_screen_renderer(std::function<std::vector<std::string>()> renderer) {
    std::lock_guard lock(g_home_mu);
    g_home_renderer = std::move(renderer);
}

std::vector<std::string> render_screen() { return render_screen(snapshot_windows()); }

std::vector<std::string> render_screen(const ScreenSnapshot& shot) {
    if (!shot.window) {
        std::function<std::vector<std::string>()> home;
        {
            std::lock_guard lock(g_home_mu);
            home = g_home_renderer;
        }
        return home ? home() : empty_screen();
    }
    Grid body(kScreenRows, kScreenColumns);
    if (shot.page == ScreenSnapshot::Page::Dialog) draw_dialog(body, shot);
    if (shot.page == ScreenSnapshot::Page::Plain) {
        for (int i = 0; i < static_cast<int>(shot.body.size()) && i < kScreenRows; ++i)
            body.text(i, 0, code_points(shot.body[i]), kScreenColumns);
    }
    if (shot.message_box) draw_message_box(body, *shot.message_box);
    else if (shot.popup) draw_popup(body, shot);

    const std::u32string left = code_points(shot.soft_left), right = code_points(shot.soft_right);
    Grid keys(1, kScreenColumns);
    const int used = keys.text(0, 0, left, kScreenColumns / 2);
    const int rw = std::min(cells_of(right), kScreenColumns - used - 1);
    keys.text(0, kScreenColumns - rw, right, rw);

    std::vector<std::string> screen;
    screen.push_back(line_of(code_points(shot.title)));
    for (int r = 0; r < kScreenRows; ++r) screen.push_back(body.line(r));
    screen.push_back(keys.line(0));
    return screen;
}

}  // namespace handset
