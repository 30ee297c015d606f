// Quillon's resource table: the dialog templates control by control, the soft-key menus,
// and the pictures' sizes, pixel layout and colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/handset/window/resource.h"
#include "res/resources.h"

namespace {

using handset::ControlKind;
using handset::TextAlign;

const handset::DialogTemplate* dialog(int id) {
    for (const auto& d : quillon_resources().dialogs)
        if (d.id == id) return &d;
    return nullptr;
}

const handset::MenuTemplate* menu(int id) {
    for (const auto& m : quillon_resources().menus)
        if (m.id == id) return &m;
    return nullptr;
}

struct ExpectedControl {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int x, y, cx, cy;
    TextAlign align = TextAlign::Left;
};

struct ExpectedDialog {
    int id;
    std::u16string_view title;
    int point_size, cx, cy;
    std::vector<ExpectedControl> controls;
};

// clang-format off
const std::vector<ExpectedDialog> kExpectedDialogs = {
    {102, u"QUILLON", 9, 159, 96,
     {{1002, ControlKind::Static, u"모델: SCH-M620", 9, 9, 78, 12},
      {1003, ControlKind::Static, u"3G 인터넷서비스 접속: 허용", 9, 24, 122, 12},
      {1004, ControlKind::Static, u"부재중수신 알림: 사용", 9, 39, 122, 12},
      {1005, ControlKind::Static, u"키 자동잠금: 사용", 9, 54, 122, 12}}},
    {129, u"QUILLON 정보", 8, 160, 116,
     {{1000, ControlKind::Picture, u"", 46, 6, 67, 62},
      {1001, ControlKind::Static, u"QUILLON v0.95", 24, 68, 85, 15, TextAlign::Center}}},
    {135, u"3G 연결 설정", 8, 186, 94,
     {{1004, ControlKind::Checkbox, u"3G 인터넷서비스 연결 차단", 6, 10, 111, 10},
      {1005, ControlKind::Checkbox, u"T메일 접속시 3G연결 허용", 16, 42, 107, 10},
      {1006, ControlKind::Checkbox, u"3G연결 알림음 사용", 16, 61, 85, 10},
      {1007, ControlKind::GroupBox, u"SK T메일 서비스", 6, 27, 123, 51}}},
    {137, u"키잠금 설정", 8, 186, 94,
     {{1008, ControlKind::Checkbox, u"자동 키잠금 사용", 8, 14, 76, 10},
      {1009, ControlKind::ComboBox, u"", 15, 40, 58, 77},
      {1010, ControlKind::Checkbox, u"키 잠금/해제시 진동알림", 15, 63, 103, 10},
      {1018, ControlKind::GroupBox, u"", 9, 29, 117, 52}}},
    {138, u"부재중알림 설정", 8, 173, 104,
     {{1013, ControlKind::Checkbox, u"부재중전화 알림", 8, 10, 74, 10},
      {1014, ControlKind::Checkbox, u"부재중SMS 알림", 8, 26, 71, 10},
      {1004, ControlKind::Static, u"알림간격", 17, 54, 32, 8},
      {1016, ControlKind::ComboBox, u"", 49, 52, 42, 58},
      {1015, ControlKind::Checkbox, u"무음모드일때 진동알림", 17, 73, 98, 10},
      {1017, ControlKind::GroupBox, u"", 9, 41, 117, 52}}},
    {139, u"기본설정", 8, 186, 94,
     {{1019, ControlKind::Checkbox, u"전원이 켜지면 Quillon 자동실행", 6, 13, 122, 10},
      {1020, ControlKind::Checkbox, u"전원버튼을 누르면 키잠금 해제", 6, 32, 122, 10}}},
};
// clang-format on

TEST(DialogTemplates, MatchTheirLayoutControlByControlInTemplateOrder) {
    EXPECT_EQ(quillon_resources().dialogs.size(), kExpectedDialogs.size());
    for (const auto& want : kExpectedDialogs) {
        SCOPED_TRACE(want.id);
        const auto* d = dialog(want.id);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->title, want.title);
        EXPECT_EQ(d->font, u"MS Shell Dlg");
        EXPECT_EQ(d->point_size, want.point_size);
        EXPECT_EQ(d->cx, want.cx);
        EXPECT_EQ(d->cy, want.cy);
        ASSERT_EQ(d->controls.size(), want.controls.size());
        for (std::size_t i = 0; i < want.controls.size(); ++i) {
            const auto& got = d->controls[i];
            const auto& w = want.controls[i];
            SCOPED_TRACE(w.id);
            EXPECT_EQ(got.id, w.id);
            EXPECT_EQ(got.kind, w.kind);
            EXPECT_EQ(got.text, w.text);
            EXPECT_EQ(got.align, w.align);
            EXPECT_EQ(std::vector<int>({got.x, got.y, got.cx, got.cy}), std::vector<int>({w.x, w.y, w.cx, w.cy}));
            // Only the selection lists scroll and keep the height they were given.
            const bool list = w.kind == ControlKind::ComboBox;
            EXPECT_EQ(got.vscroll, list);
            EXPECT_EQ(got.integral_height, !list);
        }
    }
}

TEST(DialogTemplates, EveryPictureShowsAnExistingBitmapAndIdsAreUnique) {
    std::set<int> dialog_ids;
    for (const auto& d : quillon_resources().dialogs) {
        EXPECT_TRUE(dialog_ids.insert(d.id).second) << d.id;
        std::set<int> control_ids;
        for (const auto& c : d.controls) {
            EXPECT_TRUE(control_ids.insert(c.id).second) << d.id << "/" << c.id;
            if (c.kind != ControlKind::Picture) continue;
            const auto& bitmaps = quillon_resources().bitmaps;
            EXPECT_TRUE(std::any_of(bitmaps.begin(), bitmaps.end(), [&](const auto& b) { return b.id == c.image_id; }))
                << c.image_id;
        }
    }
    EXPECT_EQ(dialog(129)->controls[0].image_id, 133);
}

TEST(Menus, MainSoftKeysCloseOnTheLeftAndOpenTheMenuOnTheRight) {
    const auto* m = menu(128);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->items.size(), 2u);
    EXPECT_EQ(m->items[0].id, IDOK);
    EXPECT_EQ(m->items[0].text, u"닫기");
    EXPECT_TRUE(m->items[0].popup.empty());
    EXPECT_EQ(m->items[1].text, u"메뉴");

    struct Entry {
        int id;
        std::u16string_view text;  // empty: a separator
    };
    // clang-format off
    const std::vector<Entry> want = {
        {32777, u"3G 인터넷서비스"}, {32778, u"부재중수신 알림"}, {32779, u"자동 키잠금"},
        {0, u""}, {32787, u"기본설정"}, {0, u""}, {32780, u"QUILLON 정보"}, {0, u""},
        {32781, u"프로그램 종료"},
    };
    // clang-format on
    const auto popup = m->items[1].popup;
    ASSERT_EQ(popup.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(popup[i].separator, want[i].text.empty());
        EXPECT_EQ(popup[i].id, want[i].id);
        EXPECT_EQ(popup[i].text, want[i].text);
    }
}

TEST(Menus, SettingsSoftKeyAndCommandBarLabelAreOk) {
    const auto* m = menu(130);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->items.size(), 1u);
    EXPECT_EQ(m->items[0].id, IDOK);
    EXPECT_EQ(m->items[0].text, u"확인");

    const auto& strings = quillon_resources().strings;
    const auto label =
        std::find_if(strings.begin(), strings.end(), [](const auto& s) { return s.id == SKB_MAINMENU.label_string; });
    ASSERT_NE(label, strings.end());
    EXPECT_EQ(label->id, 3);
    EXPECT_EQ(label->text, u"확인");
    EXPECT_EQ(SKB_MAINMENU.command, IDOK);
}

// Colour of the pixel in column x of row y counted from the top; bitmaps store rows bottom-up.
struct Rgb {
    int r, g, b;
};
Rgb pixel(const handset::ImageResource& image, int x, int y) {
    const int bytes = image.bits_per_pixel / 8;
    const auto* p = &image.pixels[(static_cast<std::size_t>(image.height - 1 - y) * image.width + x) * bytes];
    return {p[2], p[1], p[0]};
}
bool white(Rgb c) {
    return c.r == 255 && c.g == 255 && c.b == 255;
}
bool grey(Rgb c) {
    return c.r == c.g && c.g == c.b && c.r > 90 && c.r < 170;
}

TEST(Emblem, IsAGreyRingOnWhiteWithUprightLetteringInside) {
    ASSERT_EQ(quillon_resources().bitmaps.size(), 1u);
    const auto& e = quillon_resources().bitmaps[0];
    EXPECT_EQ(e.id, 133);
    ASSERT_EQ(e.width, 100);
    ASSERT_EQ(e.height, 100);
    ASSERT_EQ(e.bits_per_pixel, 24);
    ASSERT_EQ(e.pixels.size(), 30000u);

    for (auto [x, y] : {std::pair{50, 7}, {93, 50}, {50, 93}, {7, 50}, {20, 20}}) {
        EXPECT_TRUE(grey(pixel(e, x, y))) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{0, 0}, {99, 0}, {0, 99}, {99, 99}, {50, 1}, {1, 50}}) {
        EXPECT_TRUE(white(pixel(e, x, y))) << x << "," << y;
    }
    // The large initial sits in the upper half of the ring; upside-down rows would move it
    // below the centre.
    auto inked = [&](int y) {
        int n = 0;
        for (int x = 30; x < 70; ++x) n += !white(pixel(e, x, y)) && !grey(pixel(e, x, y));
        return n;
    };
    EXPECT_GT(inked(30), 0);
    EXPECT_EQ(inked(72), 0);
}

TEST(Icon, HasFourSquareImagesTransparentAtTheCornersAndOpaqueInside) {
    ASSERT_EQ(quillon_resources().icons.size(), 1u);
    const auto& icon = quillon_resources().icons[0];
    EXPECT_EQ(icon.id, 128);
    const std::vector<int> sizes = {128, 48, 32, 16};
    ASSERT_EQ(icon.images.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto& im = icon.images[i];
        const int s = sizes[i];
        SCOPED_TRACE(s);
        ASSERT_EQ(im.width, s);
        ASSERT_EQ(im.height, s);
        ASSERT_EQ(im.bits_per_pixel, 32);
        ASSERT_EQ(im.pixels.size(), static_cast<std::size_t>(s) * s * 4);
        auto alpha = [&](int x, int y) { return im.pixels[(static_cast<std::size_t>(y) * s + x) * 4 + 3]; };
        EXPECT_EQ(alpha(0, 0), 0);
        EXPECT_EQ(alpha(s - 1, s - 1), 0);
        EXPECT_EQ(alpha(s / 2, s / 2), 255);
        EXPECT_EQ(alpha(s / 2, 1 + s / 10), 255);
    }
}

}  // namespace
