// The pixel screen: dialog units to pixels, the layout of a snapshot's controls, the
// controls themselves, and the process's renderer behind write_screenshot().
#include "platform/handset/display/pixel_screen.h"

#include <algorithm>
#include <mutex>

#include "platform/handset/core/events.h"
#include "platform/handset/display/pixel_paint.h"
#include "platform/handset/window/resource.h"
#include "platform/winbase.h"
#include "platform/winuser.h"

namespace handset {
namespace {

// The platform's MulDiv: a * b / c rounded half away from zero.
int mul_div(int a, int b, int c) {
    const long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : -((-n + c / 2) / c));
}

// The field of a drop-down list: one line of text and its border; the template's height
// also counts the list that drops below it.
int combo_field_height(int line) {
    return line + 6;
}

constexpr int kCheckBoxPx = 11;

}  // namespace

namespace pixels {

std::u32string code_points(std::u16string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = next_code_point(text, i);
        if ((c < 0x20 && c != U'\n') || c == 0x7F) c = U' ';
        out.push_back(c);
    }
    return out;
}

void Painter::text(int x, int top, int pixels, std::u32string_view s, Colour colour) {
    font_.draw(c_, x, top + font_.metrics(pixels).ascent, pixels, s, colour);
}

void Painter::text_in(const Rect& r, int pixels, std::u32string_view s, Colour colour, TextAlign align, bool middle) {
    const int w = font_.width(pixels, s);
    int x = r.x;
    if (align == TextAlign::Center) x += (r.w - w) / 2;
    if (align == TextAlign::Right) x += r.w - w;
    const int top = middle ? r.y + (r.h - line_height(pixels)) / 2 : r.y;
    text(x, top, pixels, s, colour);
}

std::vector<std::u32string> Painter::wrap(std::u32string_view s, int width, int pixels) {
    std::vector<std::u32string> lines;
    std::u32string line;
    const auto fits = [&](std::u32string_view candidate) { return font_.width(pixels, candidate) <= width; };
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == U'\n') {
            lines.push_back(std::move(line));
            line.clear();
            ++i;
            continue;
        }
        if (s[i] == U' ') {
            if (!line.empty()) line.push_back(U' ');
            ++i;
            continue;
        }
        std::size_t end = s.find_first_of(U" \n", i);
        if (end == std::u32string_view::npos) end = s.size();
        const std::u32string_view word = s.substr(i, end - i);
        if (fits(line + std::u32string(word))) {
            line += word;
            i = end;
            continue;
        }
        while (!line.empty() && line.back() == U' ') line.pop_back();
        if (!line.empty()) {
            lines.push_back(std::move(line));
            line.clear();
            continue;
        }
        // A word wider than the line breaks between characters.
        for (char32_t ch : word) {
            if (!line.empty() && !fits(line + ch)) {
                lines.push_back(std::move(line));
                line.clear();
            }
            line.push_back(ch);
        }
        i = end;
    }
    while (!line.empty() && line.back() == U' ') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

void Painter::dialog() {
    // Group boxes lie under the controls they hold.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < shot_.controls.size(); ++i)
            if ((shot_.controls[i].kind == ControlKind::GroupBox) == (pass == 0)) control(shot_.controls[i], boxes_[i]);
}

void Painter::control(const ControlShot& c, const ControlBox& box) {
    Canvas::Clip clip(c_, box.rect);
    const bool focused = shot_.focus >= 0 && &shot_.controls[static_cast<std::size_t>(shot_.focus)] == &c;
    if (focused) c_.fill(box.rect, palette::kFocusFill);
    const Colour ink = c.enabled ? palette::kInk : palette::kDisabled;
    switch (c.kind) {
        case ControlKind::Checkbox:
            checkbox(c, box, ink);
            break;
        case ControlKind::ComboBox:
            combobox(c, box.rect, ink, focused ? palette::kFocusFill : palette::kBackground);
            break;
        case ControlKind::GroupBox:
            group(c, box.rect, ink);
            break;
        case ControlKind::Static:
            static_text(c, box.rect, ink);
            break;
        case ControlKind::Picture:
            picture(c, box.rect);
            break;
        case ControlKind::Button:
            c_.fill(box.rect.inset(1), 0xE8E8E8);
            c_.frame(box.rect, c.enabled ? palette::kFrame : palette::kDisabled);
            text_in(box.rect, dialog_px_, code_points(c.text), ink, TextAlign::Center, true);
            break;
    }
    if (focused) c_.frame(box.rect, palette::kFocus);
}

void Painter::checkbox(const ControlShot& c, const ControlBox& box, Colour ink) {
    const Rect& b = box.check;
    c_.fill(b, palette::kBackground);
    c_.frame(b, c.enabled ? palette::kFrame : palette::kDisabled);
    if (c.checked) {
        // A tick two pixels thick, inside the box's border.
        const int x = b.x, y = b.y, s = b.w;
        for (int t = 0; t < 2; ++t) {
            c_.line(x + 2, y + s / 2 + t - 1, x + s / 2 - 1, y + s - 4 + t, ink);
            c_.line(x + s / 2 - 1, y + s - 4 + t, x + s - 3, y + 2 + t, ink);
        }
    }
    const Rect label{b.right() + 4, box.rect.y, box.rect.right() - b.right() - 4, box.rect.h};
    text_in(label, dialog_px_, code_points(c.text), ink, TextAlign::Left, true);
}

void Painter::combobox(const ControlShot& c, const Rect& r, Colour ink, Colour face) {
    c_.fill(r.inset(1), face);
    c_.frame(r, c.enabled ? palette::kFrame : palette::kDisabled);
    // The platform's spinner: arrows left and right of each other at the field's end.
    constexpr int kArrow = 4;
    const int mid = r.y + r.h / 2, right = r.right() - 4;
    for (int i = 0; i < kArrow; ++i) {
        c_.vline(right - kArrow + 1 + i, mid - (kArrow - 1 - i), mid + (kArrow - i), ink);      // ▶
        c_.vline(right - 2 * kArrow - 2 - i, mid - (kArrow - 1 - i), mid + (kArrow - i), ink);  // ◀
    }
    const Rect field{r.x + 3, r.y, r.w - 2 * kArrow - 10, r.h};
    Canvas::Clip clip(c_, field);
    text_in(field, dialog_px_, code_points(c.text), ink, TextAlign::Left, true);
}

void Painter::group(const ControlShot& c, const Rect& r, Colour ink) {
    const int line = line_height(dialog_px_);
    const Rect frame{r.x, r.y + line / 2, r.w, r.h - line / 2};
    c_.frame(frame, c.enabled ? palette::kFrame : palette::kDisabled);
    const std::u32string caption = code_points(c.text);
    if (caption.empty()) return;
    const int x = r.x + 6, w = font_.width(dialog_px_, caption);
    c_.fill({x - 2, r.y, w + 4, line}, palette::kBackground);  // the caption breaks the frame's top edge
    text(x, r.y, dialog_px_, caption, ink);
}

void Painter::static_text(const ControlShot& c, const Rect& r, Colour ink) {
    const int line = line_height(dialog_px_);
    int top = r.y;
    for (const auto& l : wrap(code_points(c.text), r.w, dialog_px_)) {
        if (top >= r.bottom()) break;
        text_in({r.x, top, r.w, line}, dialog_px_, l, ink, c.align, false);
        top += line;
    }
}

void Painter::picture(const ControlShot& c, const Rect& r) {
    const ImageResource* image = find_bitmap(c.image_id);
    if (image && c_.image(*image, r.x, r.y)) return;
    // A missing or unreadable bitmap shows as a crossed box.
    c_.frame(r, palette::kDisabled);
    c_.line(r.x, r.y, r.right() - 1, r.bottom() - 1, palette::kDisabled);
    c_.line(r.x, r.bottom() - 1, r.right() - 1, r.y, palette::kDisabled);
}

}  // namespace pixels

std::unique_ptr<PixelScreen> PixelScreen::open(std::string& error, const std::filesystem::path& font_file) {
    auto font = PixelFont::load(font_file, error);
    if (!font) return nullptr;
    return std::unique_ptr<PixelScreen>(new PixelScreen(std::move(font)));
}

BaseUnits PixelScreen::base_units(int point_size) {
    const PixelFont::Metrics m = font_->metrics(font_pixels(point_size, kScreenDpi));
    return {m.average_width, m.height};
}

Rect PixelScreen::dialog_size(const DialogTemplate& dialog) {
    const BaseUnits base = base_units(dialog.point_size);
    return {0, 0, mul_div(dialog.cx, base.x, 4), mul_div(dialog.cy, base.y, 8)};
}

std::vector<ControlBox> PixelScreen::layout(const ScreenSnapshot& shot) {
    std::vector<ControlBox> boxes;
    if (shot.page != ScreenSnapshot::Page::Dialog) return boxes;
    const BaseUnits base = base_units(shot.point_size);
    const int line = base.y;
    for (const ControlShot& c : shot.controls) {
        // Each of x, y, cx and cy on its own, as the dialog manager maps a template.
        ControlBox box;
        box.rect = {kBodyRect.x + mul_div(c.x, base.x, 4), kBodyRect.y + mul_div(c.y, base.y, 8),
                    mul_div(c.cx, base.x, 4), mul_div(c.cy, base.y, 8)};
        switch (c.kind) {
            case ControlKind::ComboBox: {
                const int field = std::min(box.rect.h, combo_field_height(line));
                box.list = {box.rect.x, box.rect.y + field, box.rect.w, box.rect.h - field};
                box.rect.h = field;
                break;
            }
            case ControlKind::Picture:
                // A bitmap static takes the size of its bitmap, whatever the template says.
                if (const ImageResource* image = find_bitmap(c.image_id)) {
                    box.rect.w = image->width;
                    box.rect.h = image->height;
                }
                break;
            case ControlKind::Checkbox: {
                const int side = std::min(kCheckBoxPx, box.rect.h);
                box.check = {box.rect.x, box.rect.y + (box.rect.h - side) / 2, side, side};
                break;
            }
            default:
                break;
        }
        boxes.push_back(box);
    }
    return boxes;
}

Image PixelScreen::render(const ScreenSnapshot& shot) {
    Image image(kScreenWidthPx, kScreenHeightPx, palette::kBackground);
    Canvas canvas(image);
    const std::vector<ControlBox> boxes = layout(shot);
    pixels::Painter(canvas, *font_, shot, boxes, font_pixels(shot.point_size, kScreenDpi)).paint();
    return image;
}

PixelScreen* shared_pixel_screen(std::string& error) {
    static std::mutex mu;
    static std::unique_ptr<PixelScreen> screen;
    std::lock_guard lock(mu);
    // A missing font is looked for again on the next call: it may have been installed.
    if (!screen) screen = PixelScreen::open(error);
    return screen.get();
}

bool render_current_screen(Image& out, std::string& error) {
    PixelScreen* screen = shared_pixel_screen(error);
    if (!screen) return false;
    out = screen->render(capture_screen());
    return true;
}

bool write_screenshot(const std::filesystem::path& path, std::string& error) {
    Image image;
    return render_current_screen(image, error) && write_png(image, path, error);
}

}  // namespace handset

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
    using namespace handset;
    const resource::DialogTemplate* t = resource::find_dialog(dialog_template_of(dialog));
    const int point_size = t ? t->point_size : 0;
    std::string error;
    PixelScreen* screen = point_size && rect ? shared_pixel_screen(error) : nullptr;
    if (!screen) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const BaseUnits base = screen->base_units(point_size);
    rect->left = mul_div(rect->left, base.x, 4);
    rect->right = mul_div(rect->right, base.x, 4);
    rect->top = mul_div(rect->top, base.y, 8);
    rect->bottom = mul_div(rect->bottom, base.y, 8);
    return TRUE;
}
