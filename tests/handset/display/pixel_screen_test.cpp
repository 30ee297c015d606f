// The screen in pixels: every control drawn inside its rectangle, a tick that changes
// only the inside of its box, the disabled colour, the focus mark, Hangul with ink, the
// emblem at 1:1, the dialogs' sizes at their fonts' base units, the snapshot of a live
// dialog, one snapshot drawn as text and as pixels, the PNG file, and reference pictures
// that guard the whole look.
//
// QUILLON_RENEW_SCREENS=DIR makes the reference test write its pictures into DIR instead
// of comparing them (tools/renew-screen-references).

#include <algorithm>
#include <cstdlib>
#include <set>

#include "common/png_file.h"
#include "common/temp_dir.h"
#include "platform/handset/display/pixel_screen.h"
#include "handset/window/test_dialogs.h"
#include "handset/window/window_fixture.h"

namespace {

using handset::ControlKind;
using handset::Image;
using handset::Rect;
using handset::ScreenSnapshot;
namespace palette = handset::palette;

struct Point {
    int x, y;
};

std::vector<Point> differences(const Image& a, const Image& b) {
    std::vector<Point> out;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (a.at(x, y) != b.at(x, y)) out.push_back({x, y});
    return out;
}

bool all_inside(const std::vector<Point>& points, const Rect& r) {
    return std::all_of(points.begin(), points.end(), [&](Point p) { return r.contains(p.x, p.y); });
}

int count(const Image& image, const Rect& r, handset::Colour colour) {
    int n = 0;
    for (int y = r.y; y < r.bottom(); ++y)
        for (int x = r.x; x < r.right(); ++x) n += image.at(x, y) == colour;
    return n;
}

// Template `id` as it opens, its lists showing an entry.
ScreenSnapshot template_shot(int id) {
    ScreenSnapshot s = handset::template_snapshot(*handset::find_dialog(id));
    for (auto& c : s.controls)
        if (c.kind == ControlKind::ComboBox) c.text = u"2분마다";
    return s;
}

// The same snapshot with only control `i` (or none for -1).
ScreenSnapshot only(ScreenSnapshot s, int i) {
    std::vector<handset::ControlShot> kept;
    if (i >= 0) kept.push_back(s.controls[static_cast<std::size_t>(i)]);
    s.controls = kept;
    s.focus = s.focus == i && i >= 0 ? 0 : -1;
    return s;
}

bool read_png(const std::filesystem::path& path, Image& out) {
    qtest::RgbPicture picture;
    if (!qtest::read_png(path, picture)) return false;
    out = Image(picture.width, picture.height, 0);
    out.pixels.assign(picture.pixels.begin(), picture.pixels.end());
    return true;
}

class PixelTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        std::string error;
        screen_ = handset::shared_pixel_screen(error);
        ASSERT_NE(screen_, nullptr) << error;
    }
    Image render(const ScreenSnapshot& s) { return screen_->render(s); }
    Rect rect_of(const ScreenSnapshot& s, int i) { return screen_->layout(s)[static_cast<std::size_t>(i)].rect; }

    handset::PixelScreen* screen_ = nullptr;
};

TEST_F(PixelTest, EveryControlOfEveryDialogIsDrawnInsideItsRectangle) {
    enum Variant { Plain, FocusedAndTicked, Disabled };
    for (const auto& dialog : quillon_resources().dialogs) {
        const ScreenSnapshot full = template_shot(dialog.id);
        const Image blank = render(only(full, -1));
        for (int i = 0; i < static_cast<int>(full.controls.size()); ++i) {
            for (Variant v : {Plain, FocusedAndTicked, Disabled}) {
                ScreenSnapshot s = full;
                s.focus = v == FocusedAndTicked ? i : -1;
                s.controls[i].checked = v == FocusedAndTicked;
                s.controls[i].enabled = v != Disabled;
                const ScreenSnapshot alone = only(s, i);
                const auto drawn = differences(render(alone), blank);
                const Rect r = rect_of(alone, 0);
                SCOPED_TRACE("dialog " + std::to_string(dialog.id) + " control " + std::to_string(full.controls[i].id) +
                             " variant " + std::to_string(v));
                EXPECT_FALSE(drawn.empty());
                EXPECT_TRUE(all_inside(drawn, r));
                EXPECT_TRUE(all_inside(drawn, handset::kBodyRect));
            }
        }
    }
}

TEST_F(PixelTest, TickedAndUntickedBoxesDifferOnlyInsideTheBox) {
    for (const auto& dialog : quillon_resources().dialogs) {
        ScreenSnapshot s = template_shot(dialog.id);
        for (std::size_t i = 0; i < s.controls.size(); ++i) {
            if (s.controls[i].kind != ControlKind::Checkbox) continue;
            const Rect box = screen_->layout(s)[i].check;
            for (bool enabled : {true, false}) {
                SCOPED_TRACE("control " + std::to_string(s.controls[i].id) + (enabled ? " enabled" : " disabled"));
                s.controls[i].enabled = enabled;
                s.controls[i].checked = false;
                const Image unticked = render(s);
                s.controls[i].checked = true;
                const auto changed = differences(render(s), unticked);
                EXPECT_FALSE(changed.empty());
                EXPECT_TRUE(all_inside(changed, box.inset(1)));  // the box's border stays
            }
        }
    }
}

// One control of each kind on a dialog of this test only.
ScreenSnapshot one_control(ControlKind kind, std::u16string text, bool enabled = true) {
    ScreenSnapshot s = template_shot(138);
    s.controls = {{1, kind, std::move(text), handset::TextAlign::Left, 10, 10, 110,
                   kind == ControlKind::GroupBox ? 40 : 12, 0, true, enabled}};
    return s;
}

struct KindCase {
    ControlKind kind;
    std::u16string text;
    std::set<handset::Colour> fills;  // colours of the control's own face
};

const KindCase kKinds[] = {
    {ControlKind::Checkbox, u"무음모드일때 진동알림", {palette::kBackground}},
    {ControlKind::ComboBox, u"10분마다", {palette::kBackground}},
    {ControlKind::Static, u"알림간격", {}},
    {ControlKind::GroupBox, u"SK T메일 서비스", {palette::kBackground}},
    {ControlKind::Button, u"확인", {0xE8E8E8}},
};

TEST_F(PixelTest, ADisabledControlIsDrawnInTheDisabledColourOnly) {
    for (const auto& k : kKinds) {
        SCOPED_TRACE(handset::to_utf8(k.text));
        const Image blank = render(only(one_control(k.kind, k.text), -1));
        for (bool enabled : {true, false}) {
            const ScreenSnapshot s = one_control(k.kind, k.text, enabled);
            const Image image = render(s);
            std::set<handset::Colour> drawn;
            for (Point p : differences(image, blank)) drawn.insert(image.at(p.x, p.y));
            for (auto fill : k.fills) drawn.erase(fill);
            if (enabled) {
                EXPECT_TRUE(drawn.count(palette::kInk));
                EXPECT_FALSE(drawn.count(palette::kDisabled));
            } else {
                EXPECT_EQ(drawn, std::set<handset::Colour>{palette::kDisabled});
            }
        }
    }
}

TEST_F(PixelTest, TheFocusMarkOutlinesTheFocusedControlAndNothingElse) {
    ScreenSnapshot s = template_shot(138);
    for (int i = 0; i < static_cast<int>(s.controls.size()); ++i) {
        if (s.controls[i].kind == ControlKind::GroupBox || s.controls[i].kind == ControlKind::Static) continue;
        SCOPED_TRACE(s.controls[i].id);
        s.focus = i;
        const Image image = render(s);
        const Rect r = rect_of(s, i);
        const int outline = 2 * (r.w + r.h) - 4;
        EXPECT_EQ(count(image, r, palette::kFocus), outline);
        EXPECT_EQ(count(image, {0, 0, image.width, image.height}, palette::kFocus), outline);
        EXPECT_GT(count(image, r, palette::kFocusFill), 0);
    }
}

TEST_F(PixelTest, HangulTextHasInkInsideItsControlAndEachSyllableItsOwnShape) {
    for (const auto& k : kKinds) {
        SCOPED_TRACE(handset::to_utf8(k.text));
        const ScreenSnapshot s = one_control(k.kind, k.text);
        const Rect r = rect_of(s, 0);
        const Image image = render(s);
        const auto syllables = std::count_if(k.text.begin(), k.text.end(), [](char16_t c) { return c >= 0xAC00; });
        EXPECT_GE(count(image, r, palette::kInk), 10 * syllables);
        // Other syllables of the same count draw other pixels: no shared missing-glyph box.
        std::u16string other = k.text;
        for (auto& c : other)
            if (c >= 0xAC00) c = static_cast<char16_t>(c + 1);
        EXPECT_FALSE(differences(render(one_control(k.kind, other)), image).empty());
    }
}

TEST_F(PixelTest, TheEmblemShowsBitmap133PixelForPixel) {
    const ScreenSnapshot s = template_shot(IDD_ABOUT);
    const auto picture = std::find_if(s.controls.begin(), s.controls.end(),
                                      [](const auto& c) { return c.kind == ControlKind::Picture; });
    ASSERT_NE(picture, s.controls.end());
    const Rect r = rect_of(s, static_cast<int>(picture - s.controls.begin()));
    const handset::ImageResource* bitmap = handset::find_bitmap(IDB_EMBLEM);
    ASSERT_EQ(bitmap->bits_per_pixel, 24);
    ASSERT_EQ(r, (Rect{r.x, r.y, bitmap->width, bitmap->height}));
    // Alone: the version text below it starts inside the bitmap's last rows.
    const Image image = render(only(s, static_cast<int>(picture - s.controls.begin())));
    int wrong = 0;
    for (int y = 0; y < bitmap->height; ++y) {
        for (int x = 0; x < bitmap->width; ++x) {
            const std::uint8_t* p = &bitmap->pixels[((bitmap->height - 1 - y) * bitmap->width + x) * 3];
            wrong += image.at(r.x + x, r.y + y) != static_cast<handset::Colour>(p[2] << 16 | p[1] << 8 | p[0]);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(PixelTest, EveryDialogFitsTheScreenAtItsFontsBaseUnits) {
    EXPECT_EQ(screen_->base_units(8).x, 6);
    EXPECT_EQ(screen_->base_units(8).y, 12);
    EXPECT_EQ(screen_->base_units(9).y, 13);
    struct Size {
        int id, w, h;
    };
    const Size sizes[] = {
        {IDD_MAIN, 239, 156},        {IDD_ABOUT, 240, 174},     {IDD_SET_3GSVC, 279, 141},
        {IDD_SET_KEYLOCK, 279, 141}, {IDD_SET_ALERT, 260, 156}, {IDD_SET_GENERAL, 279, 141},
    };
    ASSERT_EQ(std::size(sizes), quillon_resources().dialogs.size());
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.id);
        const Rect r = screen_->dialog_size(*handset::find_dialog(size.id));
        EXPECT_EQ(r.w, size.w);
        EXPECT_EQ(r.h, size.h);
        EXPECT_LE(r.w, handset::kBodyRect.w);
        EXPECT_LE(r.h, handset::kBodyRect.h);
    }
}

TEST_F(PixelTest, TheSnapshotOfALiveDialogFollowsItsControlsAndItsOpenList) {
    AlertDialog dialog;
    auto ui = start_ui([&] { dialog.DoModal(); });
    wait_idle();
    std::string error;
    ASSERT_TRUE(handset::ui_click(1014, error)) << error;  // the focus goes with the click
    press(VK_DOWN);
    press(VK_RETURN);  // the focused list opens
    const ScreenSnapshot s = handset::capture_screen();
    EXPECT_EQ(s.title, u"부재중알림 설정");
    EXPECT_EQ(s.dialog_id, 138);
    ASSERT_EQ(s.controls.size(), 6u);
    EXPECT_TRUE(s.controls[0].checked);
    EXPECT_TRUE(s.controls[1].checked);
    EXPECT_EQ(s.controls[3].text, u"2분마다");
    EXPECT_EQ(s.focus, 3);
    ASSERT_TRUE(s.popup.has_value());
    EXPECT_FALSE(s.popup->menu);
    EXPECT_EQ(s.popup->source, 3);
    EXPECT_EQ(s.popup->items.size(), 3u);
    EXPECT_EQ(s.soft_left, u"선택");
    EXPECT_EQ(s.soft_right, u"취소");
    press(VK_ESCAPE);
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    join(ui);
}

// One snapshot taken while something is open over a dialog gives both screens the host
// reports, and each renderer draws that thing from the snapshot alone: taking it out
// of the snapshot changes the text and the pixels.
TEST_F(PixelTest, OneSnapshotGivesTheTextAndThePixelScreenWithWhatIsOpenOverTheDialog) {
    struct Case {
        const char* name;
        bool main;               // MainDialog, else AlertDialog
        std::vector<BYTE> keys;  // pressed once the dialog waits for the user
        int command;             // then sent to it (0: none)
        const char* title;       // the title bar starts with it
        const char16_t* soft_left;
        const char16_t* soft_right;
        void (*take_out)(ScreenSnapshot&);  // removes what is open from a snapshot
        std::vector<BYTE> close;            // keys that close it
    };
    const Case cases[] = {
        {"the focus moved", false, {VK_DOWN}, 0, "부재중알림 설정", u"확인", u"",
         [](ScreenSnapshot& s) { s.focus = -1; }, {}},
        {"a list open", false, {VK_DOWN, VK_DOWN, VK_RETURN}, 0, "부재중알림 설정", u"선택", u"취소",
         [](ScreenSnapshot& s) { s.popup.reset(); }, {VK_ESCAPE}},
        {"the soft-key menu open", true, {VK_TSOFT2}, 0, "QUILLON", u"선택", u"취소",
         [](ScreenSnapshot& s) { s.popup.reset(); }, {VK_ESCAPE}},
        {"a message box up", true, {}, 40002, "Quillon", u"확인", u"",
         [](ScreenSnapshot& s) { s.message_box.reset(); }, {VK_RETURN}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<CDialog> dialog;
        if (c.main) dialog = std::make_unique<MainDialog>();
        else dialog = std::make_unique<AlertDialog>();
        auto ui = start_ui([&] { dialog->DoModal(); });
        wait_idle();
        for (BYTE vk : c.keys) press(vk);
        std::string error;
        if (c.command) {
            ASSERT_TRUE(handset::ui_command(c.command, error)) << error;
        }

        const ScreenSnapshot shot = handset::capture_screen();
        EXPECT_EQ(shot.soft_left, c.soft_left);
        EXPECT_EQ(shot.soft_right, c.soft_right);
        const auto text = handset::render_screen(shot);
        EXPECT_EQ(text, handset::render_screen());
        ASSERT_EQ(text.size(), 14u);
        EXPECT_EQ(text.front().rfind(c.title, 0), 0u) << text.front();
        const int gap = 40 - handset::text_cells(c.soft_left) - handset::text_cells(c.soft_right);
        EXPECT_EQ(text.back(), handset::to_utf8(c.soft_left) + std::string(gap, ' ') + handset::to_utf8(c.soft_right));
        Image live;
        ASSERT_TRUE(handset::render_current_screen(live, error)) << error;
        const Image drawn = render(shot);
        EXPECT_TRUE(drawn.pixels == live.pixels);

        ScreenSnapshot bare = shot;
        c.take_out(bare);
        EXPECT_NE(handset::render_screen(bare), text);
        EXPECT_FALSE(render(bare).pixels == drawn.pixels);

        for (BYTE vk : c.close) press(vk);
        ASSERT_TRUE(handset::ui_command(c.main ? 32781 : IDCANCEL, error)) << error;
        join(ui);
    }
}

TEST_F(PixelTest, AScreenshotIsTheScreenAtOneToOneAndAnUnwritablePathIsNamed) {
    MainDialog main;
    auto ui = start_ui([&] { main.DoModal(); });
    wait_idle();
    qtest::TempDir dir("quillon-shot");
    std::string error;
    ASSERT_TRUE(handset::write_screenshot(dir / "main.png", error)) << error;
    Image written, now;
    ASSERT_TRUE(read_png(dir / "main.png", written));
    ASSERT_TRUE(handset::render_current_screen(now, error)) << error;
    EXPECT_EQ(written.width, handset::kScreenWidthPx);
    EXPECT_EQ(written.height, handset::kScreenHeightPx);
    EXPECT_TRUE(written.pixels == now.pixels);

    const auto missing = dir / "no-such-folder" / "main.png";
    EXPECT_FALSE(handset::write_screenshot(missing, error));
    EXPECT_NE(error.find(missing.string()), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    ASSERT_TRUE(handset::ui_command(32781, error)) << error;
    join(ui);
}

TEST(PixelFont, AMissingFontFileIsNamedWithThePackageThatBringsIt) {
    std::string error;
    EXPECT_EQ(handset::PixelScreen::open(error, "/nonexistent/dotum.ttf"), nullptr);
    EXPECT_NE(error.find("/nonexistent/dotum.ttf"), std::string::npos) << error;
    EXPECT_NE(error.find("fonts-baekmuk"), std::string::npos) << error;
}

}  // namespace
