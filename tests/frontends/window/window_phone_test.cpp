// The phone window under Xvfb: the X screen holds the handset's screen, enlarged by the
// window's scale, pixel for pixel as `screenshot` writes it at the same moment; closing
// the window ends Quillon by its own end.
//
// The test never sleeps: it waits for Xvfb's display number on a pipe, for the window on
// the X connection (MapNotify), and for each new picture in the window through the
// DAMAGE extension, each wait with a limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/child_process.h"
#include "common/png_file.h"
// Last: Xlib defines None, Bool and Status as macros.
// Before the X headers, whose macros would rename its words.
#include "platform/frontends/window/window_layout.h"
#include "frontends/window/x_display.h"

namespace {

namespace fs = std::filesystem;
using qtest::Clock;
using qtest::find_program;
using qtest::wait_for_x;

constexpr int kScale = 2;
constexpr int kScreenWidth = 320, kScreenHeight = 240;

using Picture = qtest::RgbPicture;
using qtest::read_png;

Picture grab_screen(Display* display) {
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    Picture picture{attributes.width, attributes.height, {}};
    picture.pixels.reserve(static_cast<std::size_t>(attributes.width) * attributes.height);
    for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x)
            picture.pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF);
    XDestroyImage(image);
    return picture;
}

// Whether `screen` enlarged by `scale` (each pixel a scale x scale square) is in `shot`.
bool contains_scaled(const Picture& shot, const Picture& screen, int scale) {
    const int w = screen.width * scale, h = screen.height * scale;
    for (int top = 0; top + h <= shot.height; ++top) {
        for (int left = 0; left + w <= shot.width; ++left) {
            bool same = true;
            for (int y = 0; y < h && same; ++y)
                for (int x = 0; x < w && same; ++x) same = shot.at(left + x, top + y) == screen.at(x / scale, y / scale);
            if (same) return true;
        }
    }
    return false;
}

TEST(PhoneWindow, ShowsTheScreenAsTheScreenshotHasItAndClosesLikeF10) {
    const std::optional<fs::path> xvfb = find_program("Xvfb");
    if (!xvfb) GTEST_SKIP() << "Xvfb is not installed (tools/install-deps installs it)";
    qtest::TempDir dir("qwin");
    const std::string device = dir.file("device");

    // Xvfb picks a free display and writes its number once it takes clients.
    qtest::Child server({"-displayfd", "1", "-screen", "0", "1600x1100x24", "-nolisten", "tcp"}, xvfb->string());
    std::string display_name;
    Display* display = qtest::connect_xvfb(server, display_name);
    ASSERT_NE(display, nullptr) << display_name << server.err();
    int damage_event = 0, damage_error = 0;
    ASSERT_TRUE(XDamageQueryExtension(display, &damage_event, &damage_error));
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    qtest::use_display(display_name, dir.file("no-session-bus"));
    qtest::Child phone({"--window", "--scale", std::to_string(kScale), "--device", device, "--log", dir.file("events.log")});
    ASSERT_TRUE(phone.started());
    const auto deadline = Clock::now() + qtest::kStuckLimit;

    const Window window = qtest::await_window(display, deadline);
    ASSERT_NE(window, 0u) << phone.err();
    const Damage damage = XDamageCreate(display, window, XDamageReportNonEmpty);

    // Each new picture in the window: compare it with the screenshot of that moment,
    // once the phone shows Quillon's main window.
    const std::string png = dir.file("screen.png");
    bool matched = false;
    std::string last_screen;
    for (;;) {
        XDamageSubtract(display, damage, None, None);
        XSync(display, False);
        const Picture shot = grab_screen(display);
        const qtest::Result text = qtest::run_quillon({"--device", device, "ctl", "screen"});
        const qtest::Result written = qtest::run_quillon({"--device", device, "ctl", "screenshot", png});
        last_screen = "status " + std::to_string(text.status) + "\n" + text.out + text.err;
        Picture screen;
        if (text.status == 0 && text.out.find("모델") != std::string::npos && written.status == 0 &&
            read_png(png, screen)) {
            ASSERT_EQ(screen.width, kScreenWidth);
            ASSERT_EQ(screen.height, kScreenHeight);
            if (contains_scaled(shot, screen, kScale)) {
                matched = true;
                break;
            }
        }
        // Nothing new before the deadline: the window does not show the screen.
        bool damaged = false;
        while (!damaged && wait_for_x(display, deadline)) {
            XEvent event;
            XNextEvent(display, &event);
            damaged = event.type == damage_event + XDamageNotify;
        }
        if (!damaged) break;
    }
    EXPECT_TRUE(matched) << "the X screen never held the handset's screen at scale " << kScale << "; last screen:\n"
                         << last_screen;

    // The window manager's close: WM_DELETE_WINDOW, which SDL takes as its quit.
    qtest::close_window(display, window);
    EXPECT_EQ(phone.finish(), 0) << phone.err();
    const std::string log = qtest::read_file(dir / "events.log");
    // The program's own end: its dialog closed before it exited.
    EXPECT_NE(log.find("\"ev\":\"dialog.close\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"ev\":\"process.exit\""), std::string::npos) << log;
    XCloseDisplay(display);  // the damage object went with the window
}

// A --scale larger than the display takes the largest that fits it, and says so.
TEST(PhoneWindow, AScaleTooLargeForTheDisplayTakesTheLargestThatFits) {
    const std::optional<fs::path> xvfb = find_program("Xvfb");
    if (!xvfb) GTEST_SKIP() << "Xvfb is not installed (tools/install-deps installs it)";
    qtest::TempDir dir("qwin");
    qtest::Child server({"-displayfd", "1", "-screen", "0", "1700x1300x24", "-nolisten", "tcp"}, xvfb->string());
    std::string display_name;
    Display* display = qtest::connect_xvfb(server, display_name);
    ASSERT_NE(display, nullptr) << display_name << server.err();
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    qtest::use_display(display_name, dir.file("no-session-bus"));
    qtest::Child phone({"--window", "--scale", "6", "--device", dir.file("device")});
    ASSERT_TRUE(phone.started());
    const Window window = qtest::await_window(display, Clock::now() + qtest::kStuckLimit);
    ASSERT_NE(window, 0u) << phone.err();
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(display, window, &attributes));
    EXPECT_LE(attributes.width, 1700);
    EXPECT_LE(attributes.height, 1300);
    EXPECT_EQ(attributes.width, frontends::window_layout(3).width) << "the largest scale that fits";
    qtest::close_window(display, window);
    EXPECT_EQ(phone.finish(), 0) << phone.err();
    XCloseDisplay(display);
}

}  // namespace
