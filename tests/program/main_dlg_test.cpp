// The main dialog's private vibration message, which nothing in the program sends: another
// program on the phone asks for a pulse of wParam milliseconds and gets 0 back. And a
// start that meets "_QUILLON_" without a main window to bring back.
#include <optional>
#include <string>

#include "app/main_dlg.h"
#include "platform/phone/program_host.h"
#include "program/program_fixture.h"
#include "res/resources.h"

namespace progtest {
namespace {

TEST_F(ProgramTest, TheVibrationMessageVibratesForItsWParamAndAnswersZero) {
    phone::ProgramHost host;
    std::string error;
    ASSERT_TRUE(host.start(std::nullopt, error)) << error;
    const HWND main = FindWindowW(nullptr, kMainWindowTitle);
    ASSERT_NE(main, nullptr);
    TakeEvents();

    const long long before = handset::clock().now_ms();
    EXPECT_EQ(SendMessageW(main, WM_VIBRATE_PULSE, 120, 0), 0);
    EXPECT_EQ(handset::clock().now_ms() - before, 120) << "the sender waits for the whole pulse";
    seqtest::ok_seq(TakeEvents(), {{"vibrate", {{"ms", 120}}}}, "one pulse");

    ASSERT_TRUE(host.quit(error)) << error;
}

// A first instance still on its way up (its mutex made, its window not yet): the second
// one finds no "QUILLON" window and ends without a word.
TEST_F(ProgramTest, ASecondInstanceThatFindsNoMainWindowEndsSilently) {
    const HANDLE first = CreateMutexW(nullptr, FALSE, u"_QUILLON_");
    ASSERT_NE(first, nullptr);
    phone::ProgramHost host;
    std::string error;
    ASSERT_TRUE(host.start(std::nullopt, error)) << error;
    EXPECT_EQ(host.wait_for_end(), 0u);
    seqtest::ok_seq_of(TakeEvents(), {{"process.start", {}}, {"process.exit", {{"code", 0}}}},
                       {"window.foreground", "window.show", "dialog.open", "msgbox", "timer.set"}, "silent end");
    CloseHandle(first);
}

}  // namespace
}  // namespace progtest
