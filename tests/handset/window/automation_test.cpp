// The scripts' view of the foreground window: its controls as JSON, for a dialog and
// for a plain window.
#include "handset/window/test_dialogs.h"
#include "handset/window/window_fixture.h"

namespace {

TEST_F(WindowTest, ControlsJsonListsTheDialogsControlsInTemplateOrder) {
    AlertDialog dialog;
    auto ui = start_ui([&] { dialog.DoModal(); });
    wait_idle();
    EXPECT_EQ(handset::controls_json(),
              R"({"window":"부재중알림 설정","dialog":138,"controls":[)"
              R"({"id":1013,"kind":"checkbox","text":"부재중전화 알림","checked":true,"enabled":true,"visible":true},)"
              R"({"id":1014,"kind":"checkbox","text":"부재중SMS 알림","checked":false,"enabled":true,"visible":true},)"
              R"({"id":1004,"kind":"static","text":"알림간격","enabled":true,"visible":true},)"
              R"({"id":1016,"kind":"combobox","items":["한번만","2분마다","10분마다"],"selected":1,"enabled":true,"visible":true},)"
              R"({"id":1015,"kind":"checkbox","text":"무음모드일때 진동알림","checked":true,"enabled":true,"visible":true},)"
              R"({"id":1017,"kind":"groupbox","text":"","enabled":true,"visible":true}]})");
    std::string error;
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    join(ui);

    // A plain window is no dialog and has no controls.
    HWND plain = handset::create_top_level_window(u"e-mail", handset::default_window_proc);
    handset::set_window_body(plain, {u"받은 편지함"});
    EXPECT_EQ(handset::controls_json(), R"({"window":"e-mail","dialog":null,"controls":[]})");
    EXPECT_EQ(handset::render_screen()[1], "받은 편지함                             ");
    DestroyWindow(plain);
}

}  // namespace
