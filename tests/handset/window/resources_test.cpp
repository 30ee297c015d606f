// Quillon's resource table: what every dialog template and menu must satisfy, the few
// controls and soft keys whose kind or command the program relies on, and the pictures'
// sizes, pixel layout and colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <span>
#include <vector>

#include "platform/handset/window/resource.h"
#include "res/resources.h"

namespace {

using handset::ControlKind;
using handset::ControlTemplate;
using handset::MenuItem;
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

// IDC_STATIC, the id of labels and frames the program never addresses: the dialog
// manager lets any number of them share it.
constexpr int kUnaddressed = -1;

// A closed drop-down list shows one line of text (8 units) in its frame; the list it
// drops may hang below the dialog.
constexpr int kClosedListHeight = 12;

struct Box {
    int left, top, right, bottom;
};

// What a control covers of its dialog while the dialog shows.
Box footprint(const ControlTemplate& c) {
    const int cy = c.kind == ControlKind::ComboBox ? std::min(c.cy, kClosedListHeight) : c.cy;
    return {c.x, c.y, c.x + c.cx, c.y + cy};
}

bool overlap(Box a, Box b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// A label, check box or button without its text shows nothing the user can read; a
// group box may be a bare frame, and lists and pictures show no template text.
bool needs_text(ControlKind kind) {
    return kind == ControlKind::Static || kind == ControlKind::Checkbox || kind == ControlKind::Button;
}

TEST(DialogTemplates, EveryDialogIsTitledAndEveryControlFitsItsDialogWithAUniqueIdAndItsText) {
    std::set<int> dialog_ids;
    for (const auto& d : quillon_resources().dialogs) {
        SCOPED_TRACE(d.id);
        EXPECT_TRUE(dialog_ids.insert(d.id).second);
        EXPECT_FALSE(d.title.empty());
        EXPECT_EQ(d.font, u"MS Shell Dlg");
        EXPECT_GT(d.point_size, 0);
        EXPECT_GT(d.cx, 0);
        EXPECT_GT(d.cy, 0);
        ASSERT_FALSE(d.controls.empty());

        std::set<int> control_ids;
        for (std::size_t i = 0; i < d.controls.size(); ++i) {
            const ControlTemplate& c = d.controls[i];
            SCOPED_TRACE(c.id);
            const bool unaddressed = c.id == kUnaddressed && (c.kind == ControlKind::Static ||
                                                              c.kind == ControlKind::GroupBox ||
                                                              c.kind == ControlKind::Picture);
            EXPECT_TRUE(unaddressed || control_ids.insert(c.id).second) << "id used twice";
            // A control on the soft keys' commands would close the dialog when clicked.
            EXPECT_NE(c.id, IDOK);
            EXPECT_NE(c.id, IDCANCEL);

            const Box b = footprint(c);
            EXPECT_GT(c.cx, 0);
            EXPECT_GT(c.cy, 0);
            EXPECT_TRUE(b.left >= 0 && b.top >= 0 && b.right <= d.cx && b.bottom <= d.cy)
                << "outside the dialog: " << b.left << "," << b.top << " to " << b.right << "," << b.bottom;
            EXPECT_TRUE(!needs_text(c.kind) || !c.text.empty()) << "no text";

            // Only the selection lists scroll and keep the height they were given.
            const bool list = c.kind == ControlKind::ComboBox;
            EXPECT_EQ(c.vscroll, list);
            EXPECT_EQ(c.integral_height, !list);

            if (c.kind == ControlKind::Picture) {
                const auto& bitmaps = quillon_resources().bitmaps;
                EXPECT_TRUE(std::any_of(bitmaps.begin(), bitmaps.end(), [&](const auto& p) { return p.id == c.image_id; }))
                    << c.image_id;
            }

            // Group boxes frame other controls; anything else covering another hides it.
            if (c.kind == ControlKind::GroupBox) continue;
            for (std::size_t j = i + 1; j < d.controls.size(); ++j) {
                const ControlTemplate& other = d.controls[j];
                if (other.kind == ControlKind::GroupBox) continue;
                EXPECT_FALSE(overlap(b, footprint(other))) << "covers " << other.id;
            }
        }
    }
}

// The controls the program reaches by id (data exchange and message maps) with the kind
// its classes bind them to, and what the about box shows straight from its template.
struct Bound {
    int dialog, id;
    ControlKind kind;
    TextAlign align = TextAlign::Left;
    int image_id = 0;
};

// clang-format off
const std::vector<Bound> kBound = {
    {IDD_MAIN, IDC_MODEL, ControlKind::Static},
    {IDD_MAIN, IDC_3GSVC_STATUS, ControlKind::Static},
    {IDD_MAIN, IDC_ALERT_STATUS, ControlKind::Static},
    {IDD_MAIN, IDC_KEYLOCK_STATUS, ControlKind::Static},
    {IDD_ABOUT, IDC_EMBLEM, ControlKind::Picture, TextAlign::Left, IDB_EMBLEM},
    {IDD_ABOUT, IDC_VERSION, ControlKind::Static, TextAlign::Center},
    {IDD_SET_3GSVC, IDC_BLOCK_3GSVC, ControlKind::Checkbox},
    {IDD_SET_3GSVC, IDC_TMAIL_3GSVC, ControlKind::Checkbox},
    {IDD_SET_3GSVC, IDC_TMAIL_3GSVC_ALERT, ControlKind::Checkbox},
    {IDD_SET_3GSVC, IDC_TMAIL_GROUP, ControlKind::GroupBox},
    {IDD_SET_KEYLOCK, IDC_AUTO_KEYLOCK, ControlKind::Checkbox},
    {IDD_SET_KEYLOCK, IDC_KEYLOCK_TIMEOUT, ControlKind::ComboBox},
    {IDD_SET_KEYLOCK, IDC_KEYLOCK_VIBRATE, ControlKind::Checkbox},
    {IDD_SET_KEYLOCK, IDC_KEYLOCK_GROUP, ControlKind::GroupBox},
    {IDD_SET_ALERT, IDC_CALL_ALERT, ControlKind::Checkbox},
    {IDD_SET_ALERT, IDC_SMS_ALERT, ControlKind::Checkbox},
    {IDD_SET_ALERT, IDC_ALERT_INTERVAL_LABEL, ControlKind::Static},
    {IDD_SET_ALERT, IDC_ALERT_INTERVAL, ControlKind::ComboBox},
    {IDD_SET_ALERT, IDC_ALERT_VIBRATE, ControlKind::Checkbox},
    {IDD_SET_ALERT, IDC_ALERT_GROUP, ControlKind::GroupBox},
    {IDD_SET_GENERAL, IDC_AUTOSTART, ControlKind::Checkbox},
    {IDD_SET_GENERAL, IDC_POWERKEY_UNLOCK, ControlKind::Checkbox},
};
// clang-format on

TEST(DialogTemplates, TheControlsTheProgramReachesHaveTheKindAndStyleItExpects) {
    // Another process finds the running program by its main window's title.
    ASSERT_NE(dialog(IDD_MAIN), nullptr);
    EXPECT_EQ(dialog(IDD_MAIN)->title, kMainWindowTitle);

    for (const Bound& want : kBound) {
        SCOPED_TRACE(::testing::Message() << want.dialog << "/" << want.id);
        const auto* d = dialog(want.dialog);
        ASSERT_NE(d, nullptr);
        const auto c = std::find_if(d->controls.begin(), d->controls.end(), [&](const auto& c) { return c.id == want.id; });
        ASSERT_NE(c, d->controls.end());
        EXPECT_EQ(c->kind, want.kind);
        EXPECT_EQ(c->align, want.align);
        EXPECT_EQ(c->image_id, want.image_id);
        // The handlers read the state the click left.
        EXPECT_TRUE(want.kind != ControlKind::Checkbox || c->auto_check);
    }
}

// Counts one command id per menu item, separators and popups excepted, through popups.
void collect_commands(std::span<const MenuItem> items, std::multiset<int>& ids) {
    for (const MenuItem& item : items) {
        if (!item.popup.empty()) collect_commands(item.popup, ids);
        else if (!item.separator) ids.insert(item.id);
    }
}

// Every item is a separator, a popup or a command with a text; separators only part
// items, so none leads, ends or follows another.
void check_items(std::span<const MenuItem> items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        SCOPED_TRACE(i);
        if (item.separator) {
            EXPECT_EQ(item.id, 0);
            EXPECT_TRUE(item.popup.empty());
            EXPECT_TRUE(i > 0 && i + 1 < items.size() && !items[i - 1].separator) << "a separator parts nothing";
            continue;
        }
        EXPECT_FALSE(item.text.empty());
        if (item.popup.empty()) {
            EXPECT_NE(item.id, 0) << "a command item without a command";
        } else {
            EXPECT_EQ(item.id, 0);
            check_items(item.popup);
        }
    }
}

TEST(Menus, EveryItemIsWellFormedAndCommandsAreUniqueWithinAMenu) {
    std::set<int> menu_ids;
    for (const auto& m : quillon_resources().menus) {
        SCOPED_TRACE(m.id);
        EXPECT_TRUE(menu_ids.insert(m.id).second);
        // The top level is the soft keys: the left one, and perhaps a right one.
        EXPECT_GE(m.items.size(), 1u);
        EXPECT_LE(m.items.size(), 2u);
        check_items(m.items);
        std::multiset<int> ids;
        collect_commands(m.items, ids);
        for (int id : ids) EXPECT_EQ(ids.count(id), 1u) << "command " << id << " on two items";
    }
}

// The soft keys of each menu the program puts up: the left key's command, and the
// commands of the right key's popup, which the program's window handles one for one.
struct SoftKeys {
    int menu, left;
    std::set<int> right;  // empty: no right soft key
};

TEST(Menus, SoftKeysSendTheCommandsTheProgramHandles) {
    // "닫기" sends IDOK, which the main window turns into Back; the settings dialogs and
    // the about box close on IDOK.
    const std::vector<SoftKeys> want = {
        {IDR_MAINMENU, IDOK,
         {ID_MENU_3GSVC, ID_MENU_ALERT, ID_MENU_KEYLOCK, ID_MENU_GENERAL, ID_MENU_ABOUT, ID_MENU_EXIT}},
        {IDR_OK_MENU, IDOK, {}},
    };
    for (const SoftKeys& keys : want) {
        SCOPED_TRACE(keys.menu);
        const auto* m = menu(keys.menu);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->items.size(), keys.right.empty() ? 1u : 2u);
        EXPECT_EQ(m->items[0].id, keys.left);
        EXPECT_TRUE(m->items[0].popup.empty());
        if (keys.right.empty()) continue;
        std::multiset<int> commands;
        collect_commands(m->items[1].popup, commands);
        EXPECT_EQ(std::set<int>(commands.begin(), commands.end()), keys.right);
    }

    // The command bar the main window inserts first: one button sending IDOK, labelled
    // with a string of the table.
    const auto& bars = quillon_resources().softkey_bars;
    const auto bar = std::find_if(bars.begin(), bars.end(), [](const auto& b) { return b.id == IDR_MAINMENU; });
    ASSERT_NE(bar, bars.end());
    EXPECT_EQ(bar->command, IDOK);
    const auto& strings = quillon_resources().strings;
    const auto label =
        std::find_if(strings.begin(), strings.end(), [&](const auto& s) { return s.id == bar->label_string; });
    ASSERT_NE(label, strings.end());
    EXPECT_FALSE(label->text.empty());
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
