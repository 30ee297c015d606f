// What the pixel screen draws around and over a program's page: the title and soft-key
// bars, the soft-key menu, a combobox's open list, message boxes, a plain window's lines,
// and the shell's home and lock screens.
#include <algorithm>
#include <functional>
#include <span>

#include "platform/handset/display/lock_screen.h"
#include "platform/handset/display/pixel_paint.h"

namespace handset::pixels {
namespace {

constexpr Rect kTitleRect{0, 0, kScreenWidthPx, kTitleBarPx};
constexpr Rect kSoftKeyRect{0, kScreenHeightPx - kSoftKeyBarPx, kScreenWidthPx, kSoftKeyBarPx};
constexpr int kClockPx = 36;  // the shell's large clock
constexpr Colour kLockHint = 0xB8C4D6;

// The lines of a popup that fit `room` pixels: from `first`, moved down until the
// selected item is among them. Returns {first, end}.
template <class Height>
std::pair<int, int> visible_items(int count, int selected, int room, Height height) {
    for (int first = 0;; ++first) {
        int used = 0, end = first;
        while (end < count && used + height(end) <= room) used += height(end++);
        if (selected < end || end == count || end == first) return {first, std::max(end, first + 1)};
    }
}

}  // namespace

void Painter::paint() {
    const ShellFacts* shell = shot_.shell ? &*shot_.shell : nullptr;
    // The shell's lock screen covers whatever is in front until the keypad unlocks.
    if (shell && shell->keypad_locked) return lock(*shell);
    if (!shot_.window) {
        if (shell) return home(*shell);
        title_bar({}, {});
        soft_keys({}, {});
        return;
    }
    title_bar(code_points(shot_.title), {});
    {
        Canvas::Clip body(c_, kBodyRect);
        if (shot_.page == ScreenSnapshot::Page::Dialog) dialog();
        if (shot_.page == ScreenSnapshot::Page::Plain) plain_page();
        if (shot_.message_box)
            message_box(*shot_.message_box);
        else if (shot_.popup && shot_.popup->menu)
            popup_menu(*shot_.popup);
        else if (shot_.popup)
            drop_list(*shot_.popup);
    }
    soft_keys(code_points(shot_.soft_left), code_points(shot_.soft_right));
}

void Painter::title_bar(std::u32string_view left, std::u32string_view right) {
    c_.fill(kTitleRect, palette::kTitleBar);
    const int right_w = font_.width(system_px_, right);
    const Rect inner{4, 0, kScreenWidthPx - 8, kTitleBarPx};
    text_in(inner, system_px_, right, palette::kBarText, TextAlign::Right, true);
    Canvas::Clip clip(c_, {inner.x, 0, inner.w - (right_w ? right_w + 6 : 0), kTitleBarPx});
    text_in(inner, system_px_, left, palette::kBarText, TextAlign::Left, true);
}

void Painter::soft_keys(std::u32string_view left, std::u32string_view right) {
    c_.fill(kSoftKeyRect, palette::kSoftKeyBar);
    const int half = kScreenWidthPx / 2;
    {
        Canvas::Clip clip(c_, {0, kSoftKeyRect.y, half, kSoftKeyBarPx});
        text_in({6, kSoftKeyRect.y, half - 6, kSoftKeyBarPx}, system_px_, left, palette::kBarText, TextAlign::Left,
                true);
    }
    Canvas::Clip clip(c_, {half, kSoftKeyRect.y, half, kSoftKeyBarPx});
    text_in({half, kSoftKeyRect.y, half - 6, kSoftKeyBarPx}, system_px_, right, palette::kBarText, TextAlign::Right,
            true);
}

void Painter::plain_page() {
    const int line = line_height(system_px_);
    int top = kBodyRect.y + 4;
    for (const auto& l : shot_.body) {
        text(4, top, system_px_, code_points(l), palette::kInk);
        top += line;
    }
}

void Painter::popup_menu(const PopupShot& p) {
    const int n = static_cast<int>(p.items.size());
    const int item_h = line_height(system_px_) + 4, separator_h = 5;
    // Entries are numbered as the platform numbers them: the digit keys pick them.
    std::vector<std::u32string> labels;
    int number = 0, widest = 0;
    for (const auto& item : p.items) {
        std::u32string label;
        if (!item.separator) {
            ++number;
            label = (number <= 9 ? std::u32string(1, U'0' + number) : U" ") + U"  " + code_points(item.text);
        }
        widest = std::max(widest, font_.width(system_px_, label));
        labels.push_back(std::move(label));
    }
    const auto height = [&](int i) { return p.items[i].separator ? separator_h : item_h; };
    const auto [first, end] = visible_items(n, p.selected, kBodyRect.h - 2, height);
    int h = 2;
    for (int i = first; i < end; ++i) h += height(i);
    const int w = std::min(kScreenWidthPx, widest + 16);
    const Rect box{p.soft_key == 1 ? kScreenWidthPx - w : 0, kBodyRect.bottom() - h, w, h};
    c_.fill(box, palette::kBackground);
    c_.frame(box, palette::kInk);
    int y = box.y + 1;
    for (int i = first; i < end; ++i) {
        if (p.items[i].separator) {
            c_.hline(box.x + 4, box.right() - 4, y + separator_h / 2, palette::kFrame);
        } else {
            const bool selected = i == p.selected;
            if (selected) c_.fill({box.x + 1, y, box.w - 2, item_h}, palette::kSelection);
            text(box.x + 8, y + 2, system_px_, labels[i], selected ? palette::kSelectionText : palette::kInk);
        }
        y += height(i);
    }
}

void Painter::drop_list(const PopupShot& p) {
    if (p.source < 0 || p.source >= static_cast<int>(boxes_.size())) return;
    const ControlBox& combo = boxes_[static_cast<std::size_t>(p.source)];
    const int n = static_cast<int>(p.items.size());
    const int item_h = line_height(dialog_px_) + 2;
    // As many entries as the template's dropped height holds, at least one, and no more
    // than fit above the soft-key bar.
    int rows = std::clamp(combo.list.h / item_h, 1, n);
    while (rows > 1 && combo.rect.bottom() + rows * item_h + 2 > kBodyRect.bottom()) --rows;
    const auto [first, end] = visible_items(n, p.selected, rows * item_h, [&](int) { return item_h; });
    const Rect box{combo.rect.x, combo.rect.bottom(), combo.rect.w, (end - first) * item_h + 2};
    c_.fill(box, palette::kBackground);
    c_.frame(box, palette::kInk);
    Canvas::Clip clip(c_, box.inset(1));
    for (int i = first; i < end; ++i) {
        const Rect row{box.x + 1, box.y + 1 + (i - first) * item_h, box.w - 2, item_h};
        const bool selected = i == p.selected;
        if (selected) c_.fill(row, palette::kSelection);
        text_in({row.x + 3, row.y, row.w - 3, row.h}, dialog_px_, code_points(p.items[i].text),
                selected ? palette::kSelectionText : palette::kInk, TextAlign::Left, true);
    }
}

void Painter::message_box(std::u16string_view message) {
    const int line = line_height(system_px_), pad = 12;
    std::vector<std::u32string> lines = wrap(code_points(message), kScreenWidthPx - 4 * pad, system_px_);
    if (lines.empty()) lines.emplace_back();
    const std::size_t max_lines = static_cast<std::size_t>((kBodyRect.h - 2 * pad) / line);
    if (lines.size() > max_lines) lines.resize(max_lines);
    int widest = 0;
    for (const auto& l : lines) widest = std::max(widest, font_.width(system_px_, l));
    const int w = std::max(widest, 120) + 2 * pad;
    const int h = static_cast<int>(lines.size()) * line + 2 * pad;
    const Rect box{(kScreenWidthPx - w) / 2, kBodyRect.y + (kBodyRect.h - h) / 2, w, h};
    c_.fill(box, palette::kBackground);
    c_.frame(box, palette::kInk);
    c_.frame(box.inset(2), palette::kFrame);
    for (std::size_t i = 0; i < lines.size(); ++i)
        text_in({box.x + pad, box.y + pad + static_cast<int>(i) * line, w - 2 * pad, line}, system_px_, lines[i],
                palette::kInk, TextAlign::Center, false);
}

void Painter::shell_screen(const ShellFacts& s, Colour background, Colour ink, int clock_top,
                           std::u32string_view soft_key, const std::function<void(int top)>& rest) {
    title_bar(code_points(s.model), code_points(s.clock));
    {
        Canvas::Clip body(c_, kBodyRect);
        c_.fill(kBodyRect, background);
        const Rect clock{0, clock_top, kScreenWidthPx, line_height(kClockPx)};
        const Rect date{0, clock.bottom(), kScreenWidthPx, line_height(system_px_)};
        text_in(clock, kClockPx, code_points(s.clock), ink, TextAlign::Center, false);
        text_in(date, system_px_, code_points(s.date), ink, TextAlign::Center, false);
        rest(date.bottom());
    }
    soft_keys(soft_key, {});
}

void Painter::home(const ShellFacts& s) {
    shell_screen(s, palette::kHome, palette::kInk, kBodyRect.y + 4, code_points(s.soft_key), [&](int top) {
        const int line = line_height(system_px_);
        top += 8;
        for (const auto& [label, value] : s.rows) {
            const Rect row{24, top, kScreenWidthPx - 48, line};
            text_in(row, system_px_, code_points(label), palette::kInk, TextAlign::Left, false);
            text_in(row, system_px_, code_points(value), palette::kInk, TextAlign::Right, false);
            top += line + 2;
        }
        // The launcher's shortcut to the program, selected: the left soft key starts it.
        const IconResource* icon = find_icon(s.icon_id);
        for (const ImageResource& image : icon ? icon->images : std::span<const ImageResource>()) {
            if (image.width != kHomeIconPx) continue;
            const Rect tile{8, kBodyRect.bottom() - kHomeIconPx - 12, kHomeIconPx + 8, kHomeIconPx + 8};
            c_.fill(tile, palette::kFocusFill);
            c_.frame(tile, palette::kFocus);
            c_.image(image, tile.x + 4, tile.y + 4);
            break;
        }
    });
}

void Painter::lock(const ShellFacts& s) {
    const LockScreen lock = lock_screen(s, UnlockKeys::Phone);
    shell_screen(s, palette::kLock, palette::kBarText, kBodyRect.y + 14, code_points(lock.soft_key), [&](int top) {
        // A padlock: its shackle over its body.
        const int line = line_height(system_px_), cx = kScreenWidthPx / 2;
        top += 16;
        c_.frame({cx - 5, top, 10, 9}, palette::kBarText);
        c_.frame({cx - 4, top + 1, 8, 8}, palette::kBarText);
        c_.fill({cx - 8, top + 8, 16, 12}, palette::kBarText);
        c_.fill({cx - 1, top + 12, 2, 4}, palette::kLock);
        text_in({0, top + 26, kScreenWidthPx, line}, system_px_, code_points(lock.message), palette::kBarText,
                TextAlign::Center, false);
        text_in({0, top + 30 + line, kScreenWidthPx, line}, system_px_, code_points(lock.hint), kLockHint,
                TextAlign::Center, false);
    });
}

}  // namespace handset::pixels
