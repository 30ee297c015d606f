// The main window on the running phone: start-up order, status lines, hiding, the
// single-instance rule, the soft-key bar failures and the end of the program.
#include "scenario/phone_runner.h"

namespace scenario {
namespace {

constexpr char kSettingsKey[] = "HKCU\\Software\\Quillon";

TEST(MainWindow, FirstStartShowsTheStatusAndArmsTheWatch) {
    Phone phone;
    const PhoneRun run = phone.Start("controls\n");
    ok_seq(run.events,
           {{"dialog.open", {{"id", 102}, {"title", "QUILLON"}}}, {"timer.set", {{"id", 100}, {"ms", 3000}}},
            {"window.show", {{"title", "QUILLON"}}}, {"timer.kill", {{"id", 100}}}, {"dialog.close", {{"id", 102}}}},
           "start and end");
    EXPECT_EQ(run.Text(0, IDC_MODEL), "모델: SCH-M620");
    EXPECT_EQ(run.Text(0, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: 허용");
    EXPECT_EQ(run.Text(0, IDC_ALERT_STATUS), "부재중수신 알림: 사용");
    EXPECT_EQ(run.Text(0, IDC_KEYLOCK_STATUS), "자동 키잠금: 사용");
    ok_seq_of(run.events, {}, {"reg.set", "reg.delete", "msgbox"}, "a start writes nothing");
}

TEST(MainWindow, StatusLinesFollowTheDeviceAndTheSettings) {
    Phone none("none");
    PhoneRun run = none.Start("controls\n");
    EXPECT_EQ(run.Text(0, IDC_MODEL), "모델: 알수없음");
    EXPECT_EQ(run.Text(0, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: 차단");

    Phone ktf("ktf");
    run = ktf.Start(
        "reg set HKCU\\Software\\Quillon enableCallAlert dword:0\n"
        "reg set HKCU\\Software\\Quillon EnableAutoKeylock dword:0\n"
        "start\ncontrols\nquit\n"
        "reg set HKCU\\Software\\Quillon enableSmsAlert dword:0\n"
        "reg delete \"HKCU\\Comm\\RasBook\\KTF IE GPRS\" DevCfg\n"
        "start\ncontrols\n",
        {"--no-start"});
    EXPECT_EQ(run.Text(0, IDC_MODEL), "모델: SPH-M6200");
    EXPECT_EQ(run.Text(0, IDC_ALERT_STATUS), "부재중수신 알림: 사용") << "the SMS reminder is still on";
    EXPECT_EQ(run.Text(0, IDC_KEYLOCK_STATUS), "자동 키잠금: 사용안함");
    EXPECT_EQ(run.Text(1, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: 차단");
    EXPECT_EQ(run.Text(1, IDC_ALERT_STATUS), "부재중수신 알림: 사용안함");
}

TEST(MainWindow, EnterDoesNothingAndCloseHidesWhileTheWatchGoesOn) {
    Phone phone;
    const PhoneRun run = phone.Start("press enter\npress left\nmissed 1\nwait 43t\npress back\n");
    ok_seq(run.events,
           {{"key", {{"vk", 13}, {"source", "user"}}}, {"key", {{"vk", 13}, {"source", "user"}}},
            {"key", {{"vk", 112}, {"up", false}, {"source", "user"}}},
            // The left soft key's "닫기" is handled before the finger lifts.
            {"key", {{"vk", 27}, {"up", false}, {"silent", true}, {"source", "inject"}}},
            {"key", {{"vk", 27}, {"up", true}, {"silent", true}, {"source", "inject"}}},
            {"window.hide", {{"title", "QUILLON"}}}, {"key", {{"vk", 112}, {"up", true}, {"source", "user"}}},
            {"key", {{"vk", 27}, {"source", "user"}}},
            {"key", {{"vk", 27}, {"source", "user"}}}},
           "enter, 닫기, back");
    EXPECT_EQ(run.Of("sound").size(), 2u) << "the reminder comes while hidden";
    EXPECT_EQ(run.Of("dialog.open").size(), 1u);
    for (const Json& e : run.Of("reg.set")) EXPECT_NE(e.value("key", ""), kSettingsKey);
}

TEST(MainWindow, ASecondStartBringsTheRunningWindowBack) {
    Phone phone;
    phone.Start("quit\n");
    phone.CopyProgramTo("Storage Card/Quillon.exe");
    const PhoneRun run =
        phone.Start("press back\nstart\nwait 2t\npress back\nstart --exe-path \"\\Storage Card\\Quillon.exe\"\n");
    EXPECT_EQ(run.status, 0) << run.errors;
    ok_seq(run.events,
           {{"window.foreground", {{"title", "QUILLON"}}}, {"window.hide", {{"title", "QUILLON"}}},
            {"window.foreground", {{"title", "QUILLON"}}}, {"window.hide", {{"title", "QUILLON"}}},
            {"window.foreground", {{"title", "QUILLON"}}}},
           "by path, then by title for a copy elsewhere");
    EXPECT_EQ(run.Of("timer.set").size(), 1u) << "the second processes arm no timer";
    EXPECT_EQ(run.Of("dialog.open").size(), 1u);
}

TEST(MainWindow, WithoutItsMutexesQuillonStartsAsAFirstInstance) {
    Phone phone;
    const PhoneRun run = phone.Start("fault kernel mutex\nstart\ncontrols\n", {"--no-start"});
    EXPECT_EQ(run.status, 0) << run.errors;
    ok_seq(run.events, {{"dialog.open", {{"id", 102}}}, {"timer.set", {{"id", 100}}}}, "a first start all the same");
    EXPECT_EQ(run.Text(0, IDC_MODEL), "모델: SCH-M620");
}

TEST(MainWindow, EndProgramEndsTheRunAndALaterStartIsAFirstStart) {
    Phone phone;
    PhoneRun run = phone.Start("quit\nstart\ncontrols\n");
    ok_seq(run.events,
           {{"timer.set", {{"id", 100}}}, {"timer.kill", {{"id", 100}}}, {"timer.set", {{"id", 100}}},
            {"timer.kill", {{"id", 100}}}},
           "end and start again");
    EXPECT_EQ(run.Text(0, IDC_MODEL), "모델: SCH-M620");

    run = phone.Start(Command(ID_MENU_EXIT) + "missed 1\nwait 50t\n");
    ok_seq(run.events, {{"timer.set", {{"id", 100}}}, {"timer.kill", {{"id", 100}}}}, "프로그램 종료");
    ok_seq_of(run.events, {}, {"sound"}, "nothing runs after the end");
}

TEST(MainWindow, ASoftKeyBarFailureIsToldAndACommandBarFailureStopsTheInitialisation) {
    Phone phone;
    PhoneRun run = phone.Start("fault shell menubar\nstart\npress enter\ncontrols\n", {"--no-start"});
    ok_seq(run.events,
           {{"msgbox", {{"text", "Soft Key Bar 생성 실패!"}, {"caption", "Quillon"}}},
            {"timer.set", {{"id", 100}, {"ms", 3000}}}},
           "the only message, and everything else runs");
    EXPECT_EQ(run.Text(0, IDC_KEYLOCK_STATUS), "자동 키잠금: 사용");

    run = phone.Start("fault shell commandbar\nstart\nmissed 1\nwait 50t\ncontrols\n", {"--no-start"});
    ok_seq_of(run.events, {}, {"timer.set", "msgbox", "sound"}, "no watch");
    EXPECT_EQ(run.Text(0, IDC_MODEL), "");
    EXPECT_EQ(run.Text(0, IDC_KEYLOCK_STATUS), "");
}

TEST(MainWindow, PowerWatchFailuresOnlyReachTheDebugOutput) {
    const std::pair<std::string, std::string> cases[] = {{"power msgqueue", "CreateMsgQueue failed: "},
                                                         {"power notify", "RequestPowerNotifications failed: "},
                                                         {"kernel event", ""},
                                                         {"kernel thread", ""}};
    for (const auto& [fault, text] : cases) {
        Phone phone;
        const PhoneRun run = phone.Start("fault " + fault + "\nstart\ncontrols\n", {"--no-start"});
        const auto debug = run.Of("debug");
        ASSERT_EQ(debug.size(), text.empty() ? 0u : 1u) << fault;
        if (!text.empty()) {
            EXPECT_TRUE(debug[0].value("text", "").starts_with(text)) << debug[0].dump();
            EXPECT_TRUE(debug[0].value("text", "").ends_with("\n"));
        }
        EXPECT_EQ(run.Text(0, IDC_KEYLOCK_STATUS), "자동 키잠금: 사용") << fault << ": the rest runs";
        ok_seq_of(run.events, {}, {"msgbox"}, fault);
    }
}

TEST(MainWindow, TheAboutBoxShowsTheVersionAndChangesNothing) {
    Phone phone;
    const PhoneRun run = phone.Start(Command(ID_MENU_ABOUT) + "controls\n" + Command(IDOK) + Command(ID_MENU_ABOUT) +
                                     Command(IDCANCEL) + "controls\n");
    ok_seq(run.events,
           {{"dialog.open", {{"id", 102}}}, {"dialog.open", {{"id", 129}, {"title", "QUILLON 정보"}}},
            {"dialog.close", {{"id", 129}, {"result", 1}}}, {"dialog.open", {{"id", 129}}},
            {"dialog.close", {{"id", 129}, {"result", 2}}}, {"dialog.close", {{"id", 102}}}},
           "about");
    ok_seq_of(run.events, {}, {"reg.set", "reg.delete", "msgbox", "vibrate"}, "about changes nothing");
    EXPECT_EQ(run.Text(0, IDC_VERSION), "QUILLON v0.95");
    EXPECT_EQ(run.Control(0, IDC_EMBLEM).value("kind", ""), "picture");
    EXPECT_EQ(run.Text(1, IDC_KEYLOCK_STATUS), "자동 키잠금: 사용");
}

}  // namespace
}  // namespace scenario
