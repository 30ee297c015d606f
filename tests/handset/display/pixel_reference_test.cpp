// Reference pictures of the screen in pixels: a settings dialog with its list open, the
// home screen and the lock screen, equal pixel for pixel to tests/handset/display/reference/*.png. They guard the
// whole look; tools/renew-screen-references writes them anew after a deliberate change
// (QUILLON_RENEW_SCREENS=DIR writes the pictures into DIR instead of comparing).
#include <png.h>

#include <cstdlib>
#include <functional>

#include "common/build_paths.h"
#include "platform/handset/display/pixel_screen.h"
#include "handset/window/test_dialogs.h"
#include "handset/window/window_fixture.h"

namespace {

using handset::Image;

handset::ShellFacts home_facts(bool locked) {
    return {u"SCH-M620",
            u"09:00",
            u"2006-05-01 (월)",
            {{u"부재중 전화", u"2"},
             {u"읽지 않은 SMS", u"1"},
             {u"프로필", u"Normal"},
             {u"키패드", locked ? u"잠김" : u"열림"}},
            u"Quillon",
            IDI_QUILLON,
            locked};
}

bool read_png(const std::filesystem::path& path, std::vector<std::uint8_t>& rgb, int& w, int& h) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(png));
    w = static_cast<int>(png.width);
    h = static_cast<int>(png.height);
    return png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr) != 0;
}

// Compares the screen now with reference `name`, or writes it when renewing.
void expect_reference(const std::string& name) {
    std::string error;
    Image now;
    ASSERT_TRUE(handset::render_current_screen(now, error)) << error;
    if (const char* out = std::getenv("QUILLON_RENEW_SCREENS")) {
        ASSERT_TRUE(handset::write_png(now, std::filesystem::path(out) / (name + ".png"), error)) << error;
        return;
    }
    const auto path = std::filesystem::path(qtest::kSourceDir) / "tests/handset/display/reference" / (name + ".png");
    std::vector<std::uint8_t> rgb;
    int w = 0, h = 0;
    ASSERT_TRUE(read_png(path, rgb, w, h)) << "cannot read " << path;
    ASSERT_EQ(w, now.width);
    ASSERT_EQ(h, now.height);
    int different = 0;
    for (std::size_t i = 0; i < now.pixels.size(); ++i)
        different +=
            now.pixels[i] != static_cast<handset::Colour>(rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]);
    EXPECT_EQ(different, 0) << name << ": pixels differ from " << path
                            << " (tools/renew-screen-references after a deliberate change)";
}

TEST_F(WindowTest, TheScreenLooksAsItsReferencePictures) {
    handset::set_shell_facts_source([] { return home_facts(true); });
    expect_reference("lock");
    handset::set_shell_facts_source([] { return home_facts(false); });
    expect_reference("home");

    AlertDialog dialog;
    auto ui = start_ui([&] { dialog.DoModal(); });
    wait_idle();
    press(VK_DOWN);
    press(VK_DOWN);
    press(VK_RETURN);  // the interval list drops
    expect_reference("settings-list");
    press(VK_ESCAPE);
    std::string error;
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    join(ui);
    handset::set_shell_facts_source(nullptr);
}

}  // namespace
