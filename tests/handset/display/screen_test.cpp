// The screen model: dialogs drawn as 40-cell text lines with Hangul taking two cells,
// the soft-key menu over a dialog, wide characters at the edges of fields and of the
// screen, the home screen and the change counter.
#include <atomic>

#include "handset/window/test_dialogs.h"
#include "handset/window/window_fixture.h"

namespace {

using handset::text_cells;

std::vector<std::string> lines(std::initializer_list<const char*> text) { return {text.begin(), text.end()}; }

void expect_full_width(const std::vector<std::string>& screen) {
    ASSERT_EQ(screen.size(), 14u);
    for (const auto& line : screen) EXPECT_EQ(text_cells(handset::to_utf16(line)), 40) << line;
}

TEST_F(WindowTest, AlertDialogWithItsIntervalControlsDisabled) {
    AlertDialog dialog;
    auto ui = start_ui([&] { dialog.DoModal(); });
    wait_idle();
    std::string error;
    ASSERT_TRUE(handset::ui_click(1013, error)) << error;
    const auto screen = handset::render_screen();
    expect_full_width(screen);
    EXPECT_EQ(screen, lines({
                          "부재중알림 설정                         ",
                          "                                        ",
                          " >[ ] 부재중전화 알림                   ",
                          "                                        ",
                          "  [ ] 부재중SMS 알림                    ",
                          "                                        ",
                          "  ┌~───────────────────────────┐        ",
                          "  │~알림간격(2분마다 )         │        ",
                          "  │                            │        ",
                          "  │                            │        ",
                          "  │ (x) 무음모드일때 진동알림  │        ",
                          "  │                            │        ",
                          "  └────────────────────────────┘        ",
                          "확인                                    ",
                      }));
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    join(ui);
}

TEST_F(WindowTest, SoftKeyMenuOpensOverTheWindowWithItsEntriesNumbered) {
    MainDialog main;
    auto ui = start_ui([&] { main.DoModal(); });
    wait_idle();
    press(VK_TSOFT2);
    press(VK_DOWN);
    const auto screen = handset::render_screen();
    expect_full_width(screen);
    EXPECT_EQ(screen, lines({
                          "QUILLON                                 ",
                          "                                        ",
                          "  상태             ┌───────────────────┐",
                          "                   │ 1 3G 인터넷서비스 │",
                          "  3G 인터넷서비스  │>2 부재중수신 알림 │",
                          "  부재중수신 알림: │ 3 자동 키잠금     │",
                          "                   ├───────────────────┤",
                          "  키 자동잠금: 사용│ 4 기본설정        │",
                          "                   ├───────────────────┤",
                          "                   │ 5 QUILLON 정보    │",
                          "                   ├───────────────────┤",
                          "                   │ 6 프로그램 종료   │",
                          "                   └───────────────────┘",
                          "선택                                취소",
                      }));
    press(VK_ESCAPE);  // closes the menu only
    EXPECT_EQ(handset::render_screen().back(), "닫기                                메뉴");
    EXPECT_TRUE(IsWindowVisible(main.m_hWnd));
    std::string error;
    ASSERT_TRUE(handset::ui_command(32781, error)) << error;
    join(ui);
}

// A dialog of this test only, with wide characters where they meet the edge of a field
// or of the screen, and a text that wraps.
const handset::ControlTemplate kEdgeControls[] = {
    {1, handset::ControlKind::Static, u"가나다", 150, 0, 40, 8},
    {2, handset::ControlKind::Checkbox, u"한글 abc", 0, 16, 60, 10},
    {3, handset::ControlKind::ComboBox, u"", 0, 32, 20, 40},
    {4, handset::ControlKind::Static, u"하나 둘 셋 넷 다섯 여섯", 0, 48, 40, 24},
    {5, handset::ControlKind::Static, u"끝", 0, 80, 40, 8, handset::TextAlign::Right},
};
const handset::DialogTemplate kEdgeDialog[] = {
    {900, u"가장자리", u"MS Shell Dlg", 8, 160, 100, true, kEdgeControls},
};

class EdgeDialog : public CDialog {
public:
    EdgeDialog() : CDialog(900) {}
    CComboBox list;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 3, list); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        list.AddString(u"가나");
        list.SetCurSel(0);
        return FALSE;  // no initial focus
    }
};

TEST_F(WindowTest, WideCharactersNeverSplitAcrossTheScreensOrAFieldsEdge) {
    handset::Resources table = quillon_resources();
    table.dialogs = kEdgeDialog;
    handset::set_resources(&table);
    EdgeDialog dialog;
    auto ui = start_ui([&] { dialog.DoModal(); });
    wait_idle();
    const auto screen = handset::render_screen();
    expect_full_width(screen);
    EXPECT_EQ(screen, lines({
                          "가장자리                                ",
                          "                                     가 ",
                          "                                        ",
                          "[ ] 한글 abc                            ",
                          "                                        ",
                          "<가 >                                   ",
                          "                                        ",
                          "하나 둘 셋                              ",
                          "넷 다섯                                 ",
                          "여섯                                    ",
                          "                                        ",
                          "        끝                              ",
                          "                                        ",
                          "                                        ",
                      }));
    std::string error;
    ASSERT_TRUE(handset::ui_command(IDCANCEL, error)) << error;
    join(ui);
    handset::set_resources(&quillon_resources());
}

TEST(TextCells, CountWideCharactersTwiceAndCombiningMarksNotAtAll) {
    EXPECT_EQ(text_cells(u"가a"), 3);
    EXPECT_EQ(text_cells(u"QUILLON 정보"), 12);
    EXPECT_EQ(text_cells(u"\U0001F600"), 2);  // a surrogate pair
    EXPECT_EQ(text_cells(u"e\u0301"), 1);
    EXPECT_EQ(text_cells(u"\uFF21"), 2);  // full-width Latin
    EXPECT_EQ(text_cells(u""), 0);
}

TEST_F(WindowTest, WithNothingInFrontTheHomeScreenIsShown) {
    const auto blank = handset::render_screen();
    expect_full_width(blank);
    for (const auto& line : blank) EXPECT_EQ(line, std::string(40, ' '));

    handset::set_home_screen_renderer([] { return std::vector<std::string>{"home"}; });
    EXPECT_EQ(handset::render_screen(), std::vector<std::string>{"home"});
    EXPECT_EQ(handset::controls_json(), R"({"window":null,"dialog":null,"controls":[]})");
    handset::set_home_screen_renderer(nullptr);
}

TEST_F(WindowTest, EveryVisibleChangeMovesTheScreenGenerationAndCallsTheListener) {
    std::atomic<int> calls{0};
    handset::set_screen_listener([&] { ++calls; });
    HWND window = handset::create_top_level_window(u"a", handset::default_window_proc);
    auto before = handset::screen_generation();
    int seen = calls;
    SetWindowTextW(window, u"b");
    EXPECT_GT(handset::screen_generation(), before);
    EXPECT_GT(calls.load(), seen);
    before = handset::screen_generation();
    seen = calls;
    ShowWindow(window, SW_HIDE);
    EXPECT_GT(handset::screen_generation(), before);
    EXPECT_GT(calls.load(), seen);
    handset::set_screen_listener(nullptr);
    DestroyWindow(window);
}

}  // namespace
