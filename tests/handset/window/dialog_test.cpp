// The dialog framework: modal dialogs from templates, their owner, the owner's timer
// inside the modal loop, controls driven by UI commands and by keys, the soft-key bar
// and its popup, message boxes, destruction, and the shell's failure points.
#include <algorithm>

#include "test_dialogs.h"
#include "window_fixture.h"

namespace {

using handset::Json;

std::string screen_text() {
    std::string all;
    for (const auto& line : handset::render_screen()) all += line + "\n";
    return all;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::pair<int, int>> dialog_events(const std::vector<Json>& events) {
    std::vector<std::pair<int, int>> out;
    for (const auto& e : events) out.emplace_back(e["id"].get<int>(), e.contains("result") ? e["result"].get<int>() : 0);
    return out;
}

class DialogTest : public WindowTest {
protected:
    MainDialog main;
    INT_PTR main_result = 0;
    std::shared_ptr<handset::ThreadObject> ui;

    void open_main() {
        ui = start_ui([this] { main_result = main.DoModal(); });
        wait_idle();
    }
    void end_main() {
        std::string error;
        ASSERT_TRUE(handset::ui_command(32781, error)) << error;
        join(ui);
    }
};

TEST_F(DialogTest, ModalDialogIsOwnedByTheActiveWindowWhoseTimerGoesOnTicking) {
    open_main();
    EXPECT_EQ(controls()["window"], "QUILLON");
    EXPECT_EQ(controls()["dialog"], 102);
    EXPECT_EQ(control(1002)["text"], "상태");  // the member string went into the control

    std::string error;
    ASSERT_TRUE(handset::ui_command(32778, error)) << error;
    EXPECT_EQ(controls()["window"], "부재중알림 설정");
    EXPECT_EQ(controls()["dialog"], 138);
    EXPECT_EQ(GetParent(main.alert.m_hWnd), main.m_hWnd);
    EXPECT_EQ(main.alert.GetParent(), &main);
    EXPECT_FALSE(IsWindowEnabled(main.m_hWnd));

    sleep(10000);
    EXPECT_EQ(main.ticks, 3);  // 3000, 6000 and 9000 ms, all inside the modal loop

    ASSERT_TRUE(handset::ui_command(IDOK, error)) << error;
    EXPECT_EQ(main.alert_result, IDOK);
    EXPECT_EQ(main.alert.m_hWnd, nullptr);
    EXPECT_TRUE(IsWindowEnabled(main.m_hWnd));
    EXPECT_EQ(handset::foreground_window(), main.m_hWnd);

    // The same object runs again, with its controls set afresh.
    ASSERT_TRUE(handset::ui_command(32778, error)) << error;
    EXPECT_EQ(control(1013)["checked"], true);
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    EXPECT_EQ(main.alert_result, IDCANCEL);

    end_main();
    EXPECT_EQ(main_result, -1);  // destroyed rather than ended
    EXPECT_TRUE(main.destroyed);
    EXPECT_EQ(main.m_hWnd, nullptr);
    EXPECT_EQ(dialog_events(events("dialog.open")), (std::vector<std::pair<int, int>>{{102, 0}, {138, 0}, {138, 0}}));
    EXPECT_EQ(dialog_events(events("dialog.close")),
              (std::vector<std::pair<int, int>>{{138, IDOK}, {138, IDCANCEL}, {102, -1}}));
    EXPECT_EQ(events("timer.kill").at(0)["id"], 100);
}

TEST_F(DialogTest, ClicksAndSelectionsChangeTheControlsAndReachTheHandlers) {
    open_main();
    std::string error;
    ASSERT_TRUE(handset::ui_command(32778, error)) << error;
    EXPECT_EQ(control(1016)["items"], Json::array({"한번만", "2분마다", "10분마다"}));
    EXPECT_EQ(control(1016)["selected"], 1);

    // Both alerts off: the interval controls are disabled and refuse the user.
    ASSERT_TRUE(handset::ui_click(1013, error)) << error;
    EXPECT_EQ(control(1013)["checked"], false);
    for (int id : {1004, 1016, 1017, 1015}) EXPECT_EQ(control(id)["enabled"], false) << id;
    EXPECT_FALSE(handset::ui_select(1016, 0, error));
    EXPECT_TRUE(contains(error, "disabled")) << error;
    EXPECT_FALSE(handset::ui_click(1015, error));
    EXPECT_TRUE(contains(error, "disabled")) << error;
    EXPECT_EQ(control(1015)["checked"], true);  // a refused click changes nothing

    ASSERT_TRUE(handset::ui_click(1014, error)) << error;
    for (int id : {1004, 1016, 1017, 1015}) EXPECT_EQ(control(id)["enabled"], true) << id;

    EXPECT_FALSE(handset::ui_select(1016, 3, error));
    EXPECT_TRUE(contains(error, "out of range")) << error;
    EXPECT_FALSE(handset::ui_click(1004, error));
    EXPECT_TRUE(contains(error, "cannot be clicked")) << error;
    EXPECT_FALSE(handset::ui_click(9999, error));
    EXPECT_TRUE(contains(error, "9999")) << error;
    EXPECT_FALSE(handset::ui_select(1013, 0, error));
    EXPECT_TRUE(contains(error, "not a list")) << error;

    ASSERT_TRUE(handset::ui_select(1016, 2, error)) << error;
    EXPECT_EQ(control(1016)["selected"], 2);
    ASSERT_TRUE(handset::ui_select(1016, 2, error)) << error;  // the user picked it again
    EXPECT_EQ(main.alert.log(), (std::vector<std::string>{"1013:0", "1014:1", "1016:2", "1016:2"}));

    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    end_main();
}

TEST_F(DialogTest, KeysMoveTheFocusClickAndPickAfterTheProgramsOwnFilter) {
    open_main();
    // The program's filter hides the window on Back instead of the framework's cancel.
    press(VK_ESCAPE);
    EXPECT_FALSE(IsWindowVisible(main.m_hWnd));
    EXPECT_EQ(handset::foreground_window(), nullptr);
    ASSERT_TRUE(handset::bring_to_front(main.m_hWnd));
    EXPECT_TRUE(IsWindowVisible(main.m_hWnd));
    EXPECT_EQ(events("window.hide").size(), 1u);
    EXPECT_EQ(events("window.foreground").back()["title"], "QUILLON");

    // Right soft key: the menu takes the keys, Enter included, before any filter.
    press(VK_TSOFT2);
    EXPECT_TRUE(contains(screen_text(), "3G 인터넷서비스"));
    press(VK_DOWN);
    press(VK_RETURN);
    ASSERT_EQ(controls()["dialog"], 138);

    press(VK_RETURN);  // focus starts on 1013
    press(VK_DOWN);    // 1014: the disabled controls are skipped
    press(VK_RETURN);
    press(VK_DOWN);  // 1016
    press(VK_RIGHT);
    press(VK_RIGHT);  // already the last entry: no change, no notification
    press(VK_LEFT);
    press(VK_RETURN);  // opens the list
    EXPECT_TRUE(contains(screen_text(), "10분마다"));
    press(VK_UP);
    press(VK_RETURN);
    press(VK_DOWN);  // 1015
    press(VK_RETURN);
    EXPECT_EQ(main.alert.log(),
              (std::vector<std::string>{"1013:0", "1014:1", "1016:2", "1016:1", "1016:0", "1015:0"}));

    press(VK_ESCAPE);  // the framework's default in the settings dialog: cancel
    EXPECT_EQ(main.alert_result, IDCANCEL);
    EXPECT_EQ(controls()["dialog"], 102);

    press(VK_TSOFT2);
    press('2');  // menu entries are numbered
    ASSERT_EQ(controls()["dialog"], 138);
    press(VK_TSOFT1);  // its only soft key, "확인"
    EXPECT_EQ(main.alert_result, IDOK);

    press(VK_TSOFT2);
    press('6');  // "프로그램 종료"
    join(ui);
    EXPECT_EQ(main_result, -1);
}

TEST_F(DialogTest, DestroyingTheOwnerEndsTheModalDialogItOwnsFirst) {
    open_main();
    std::string error;
    ASSERT_TRUE(handset::ui_command(32778, error)) << error;
    PostMessageW(main.m_hWnd, WM_COMMAND, 32781, 0);
    join(ui);
    EXPECT_EQ(main.alert_result, -1);
    EXPECT_EQ(main_result, -1);
    EXPECT_TRUE(main.destroyed);
    EXPECT_EQ(dialog_events(events("dialog.close")), (std::vector<std::pair<int, int>>{{138, -1}, {102, -1}}));
}

TEST_F(DialogTest, MessageBoxWaitsForTheUserOverADisabledOwner) {
    open_main();
    std::string error;
    ASSERT_TRUE(handset::ui_command(40002, error)) << error;
    ASSERT_EQ(events("msgbox").size(), 1u);
    EXPECT_EQ(events("msgbox")[0]["text"], "Soft Key Bar 생성 실패!");
    EXPECT_EQ(events("msgbox")[0]["caption"], "Quillon");
    EXPECT_FALSE(IsWindowEnabled(main.m_hWnd));
    const auto screen = handset::render_screen();
    EXPECT_TRUE(contains(screen.front(), "Quillon"));
    EXPECT_TRUE(contains(screen_text(), "Soft Key Bar 생성 실패!"));
    EXPECT_TRUE(contains(screen.back(), "확인"));
    EXPECT_EQ(controls()["dialog"], nullptr);
    EXPECT_EQ(main.message_box_result, 0);

    press(VK_DOWN);  // not a way to dismiss it
    EXPECT_EQ(main.message_box_result, 0);
    press(VK_RETURN);
    EXPECT_EQ(main.message_box_result, IDOK);
    EXPECT_TRUE(IsWindowEnabled(main.m_hWnd));
    EXPECT_EQ(handset::foreground_window(), main.m_hWnd);
    end_main();
}

TEST_F(WindowTest, AListWithoutAValidSelectionShowsNone) {
    AlertDialog dialog;
    dialog.initial_selection = 5;
    INT_PTR result = 0;
    auto ui = start_ui([&] { result = dialog.DoModal(); });
    wait_idle();
    EXPECT_EQ(control(1016)["selected"], -1);
    EXPECT_EQ(dialog.interval.GetCurSel(), CB_ERR);
    EXPECT_EQ(dialog.interval.GetCount(), 3);
    EXPECT_EQ(dialog.interval.SetCurSel(2), 2);
    EXPECT_EQ(dialog.interval.SetCurSel(-1), CB_ERR);
    EXPECT_EQ(control(1016)["selected"], -1);
    EXPECT_EQ(GetParent(dialog.m_hWnd), nullptr);  // run from no window: no owner
    std::string error;
    ASSERT_TRUE(handset::ui_command(IDOK, error)) << error;
    join(ui);
    EXPECT_EQ(result, IDOK);
}

TEST_F(WindowTest, ShellFaultsMakeTheSoftKeyBarsFailAndTheDialogStillOpens) {
    handset::set_fault(handset::Fault::ShellMenuBar, true);
    AlertDialog dialog;
    auto ui = start_ui([&] { dialog.DoModal(); });
    wait_idle();
    EXPECT_FALSE(dialog.menubar_ok);
    EXPECT_EQ(dialog.menubar_error, static_cast<DWORD>(ERROR_OUTOFMEMORY));
    EXPECT_EQ(controls()["dialog"], 138);
    EXPECT_EQ(handset::render_screen().back(), std::string(40, ' '));
    std::string error;
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    join(ui);
    handset::set_fault(handset::Fault::ShellMenuBar, false);

    HWND window = handset::create_top_level_window(u"bar", handset::default_window_proc);
    CWnd* owner = CWnd::FromHandle(window);
    CCommandBar bar;
    handset::set_fault(handset::Fault::ShellCommandBar, true);
    EXPECT_FALSE(bar.Create(owner));
    handset::set_fault(handset::Fault::ShellCommandBar, false);
    ASSERT_TRUE(bar.Create(owner));
    handset::set_fault(handset::Fault::ShellCommandBar, true);
    EXPECT_FALSE(bar.InsertMenuBar(130));
    handset::set_fault(handset::Fault::ShellCommandBar, false);
    EXPECT_FALSE(bar.InsertMenuBar(999));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(bar.InsertMenuBar(130));
    EXPECT_EQ(handset::render_screen().back().substr(0, 6), "확인");

    SHMENUBARINFO info{};
    info.cbSize = sizeof info;
    info.dwFlags = SHCMBF_HMENU;
    info.nToolBarId = 999;
    info.hwndParent = window;
    EXPECT_FALSE(SHCreateMenuBar(&info));
    info.nToolBarId = 128;
    info.hwndParent = nullptr;
    EXPECT_FALSE(SHCreateMenuBar(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(bar.m_hWnd, nullptr);  // the bar went with its window
}

TEST_F(WindowTest, WindowStateCallsReportAndRefuseAsThePlatformDoes) {
    HWND window = handset::create_top_level_window(u"state", handset::default_window_proc);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(window) & 1, 0u);  // the low bit stays free
    WCHAR buffer[4];
    EXPECT_EQ(GetWindowTextW(window, buffer, 4), 3);
    EXPECT_EQ(std::u16string(buffer), u"sta");
    EXPECT_TRUE(SetWindowTextW(window, u"e-mail"));
    EXPECT_EQ(FindWindowW(nullptr, u"e-mail"), window);
    EXPECT_EQ(FindWindowW(nullptr, u"E-MAIL"), nullptr);  // titles match exactly

    EXPECT_FALSE(EnableWindow(window, FALSE));  // was enabled
    EXPECT_TRUE(EnableWindow(window, TRUE));    // was disabled
    EXPECT_TRUE(ShowWindow(window, SW_MINIMIZE));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(ShowWindow(window, SW_HIDE));
    // The handle-OR-1 form brings a hidden window back.
    EXPECT_TRUE(SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(window) | 1)));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window);

    HICON icon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(128));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(4)), nullptr);
    CWnd* object = CWnd::FromHandle(window);
    EXPECT_EQ(object->SetIcon(icon, TRUE), nullptr);
    EXPECT_EQ(object->SetIcon(icon, TRUE), icon);
    EXPECT_EQ(object->SetIcon(icon, FALSE), nullptr);

    EXPECT_EQ(GetDlgItem(window, 1), nullptr);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(SetForegroundWindow(window));
    EXPECT_EQ(events("window.show").size(), 2u);
    EXPECT_EQ(events("window.hide").size(), 1u);
}

}  // namespace
