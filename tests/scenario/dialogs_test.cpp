// The settings dialogs on the running phone: what each shows when it opens, what each
// click stores and writes, and how the dependent controls follow.
#include "scenario/phone_runner.h"

namespace scenario {
namespace {


Expected Write(const std::string& name, int data) {
    return {"reg.set", {{"key", "HKCU\\Software\\Quillon"}, {"name", name}, {"type", "dword"}, {"data", data}}};
}

// The mail-client group of the 3G dialog, which follows the block box on SKT phones.
constexpr int kMailGroup[] = {IDC_TMAIL_3GSVC, IDC_TMAIL_3GSVC_ALERT, IDC_TMAIL_GROUP};

// --- Missed-call alert ------------------------------------------------------------

TEST(AlertDialog, TheIntervalControlsFollowTheTwoBoxes) {
    Phone phone;
    const PhoneRun run = phone.Start(
        Command(ID_MENU_ALERT) + "controls\n" + Click(IDC_CALL_ALERT) + "controls\n" + Click(IDC_SMS_ALERT) +
        "controls\n" + Command(IDOK) + "controls\n" + Command(ID_MENU_ALERT) + "controls\n" + Click(IDC_SMS_ALERT) +
        "controls\n");
    EXPECT_EQ(run.Control(0, IDC_ALERT_INTERVAL)["items"], Json::parse(R"(["한번만","2분마다","10분마다"])"));
    EXPECT_EQ(run.Selected(0, IDC_ALERT_INTERVAL), 1);
    for (int id : {IDC_CALL_ALERT, IDC_SMS_ALERT, IDC_ALERT_VIBRATE}) EXPECT_TRUE(run.Checked(0, id)) << id;
    for (int id : {IDC_ALERT_INTERVAL_LABEL, IDC_ALERT_INTERVAL, IDC_ALERT_GROUP, IDC_ALERT_VIBRATE}) {
        EXPECT_TRUE(run.Enabled(1, id)) << "one box still ticked, " << id;
        EXPECT_FALSE(run.Enabled(2, id)) << "both unticked, " << id;
        EXPECT_FALSE(run.Enabled(4, id)) << "opened with both off, " << id;
        EXPECT_TRUE(run.Enabled(5, id)) << "ticked again, " << id;
    }
    EXPECT_EQ(run.Selected(2, IDC_ALERT_INTERVAL), 1) << "disabling keeps the value";
    EXPECT_TRUE(run.Checked(4, IDC_ALERT_VIBRATE));
    EXPECT_EQ(run.Text(3, IDC_ALERT_STATUS), "부재중수신 알림: 사용안함");
    ok_seq(run.events,
           {kFeedback, Write("enableCallAlert", 0), kFeedback, Write("enableSmsAlert", 0), kFeedback,
            Write("enableSmsAlert", 1)},
           "clicks");
}

TEST(AlertDialog, EveryChangeIsWrittenAndVibratesAndClosingUndoesNothing) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "reg set HKCU\\Software\\Quillon AlertInterval dword:5\n"
        "reg set HKCU\\Software\\Quillon EnableVibrateAlert dword:0\n"
        "start\n" + Command(ID_MENU_ALERT) + "controls\n" + Select(IDC_ALERT_INTERVAL, 0) +
            Select(IDC_ALERT_INTERVAL, 2) + Click(IDC_ALERT_VIBRATE) + Click(IDC_ALERT_VIBRATE) + Command(IDCANCEL) +
            Command(ID_MENU_ALERT) + "controls\n",
        {"--no-start"});
    EXPECT_EQ(run.Selected(0, IDC_ALERT_INTERVAL), -1) << "a stored index outside the list selects nothing";
    EXPECT_EQ(run.Selected(1, IDC_ALERT_INTERVAL), 2);
    ok_seq(run.events,
           {Write("AlertInterval", 5), Write("EnableVibrateAlert", 0), kFeedback, Write("AlertInterval", 0),
            kFeedback, Write("AlertInterval", 2), kFeedback, Write("EnableVibrateAlert", 1), kFeedback,
            Write("EnableVibrateAlert", 0), {"dialog.close", {{"id", 138}, {"result", 2}}},
            {"dialog.close", {{"id", 138}}}, {"dialog.close", {{"id", 102}}}},
           "writes");
}

TEST(AlertDialog, AFailedWriteHoldsForTheRunAndIsStoredOnceItCanBe) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "fault registry write\n" + Command(ID_MENU_ALERT) + Click(IDC_CALL_ALERT) + "press enter\n" +
        Click(IDC_SMS_ALERT) + Command(IDOK) + "controls\n" + "fault registry write off\nquit\nstart\ncontrols\n");
    EXPECT_EQ(run.Text(0, IDC_ALERT_STATUS), "부재중수신 알림: 사용안함");
    EXPECT_EQ(run.Text(1, IDC_ALERT_STATUS), "부재중수신 알림: 사용안함") << "stored when the program ended";
}

TEST(AlertDialog, WithoutSoftKeysTheDialogStillOpens) {
    Phone phone;
    const PhoneRun run =
        phone.Start("fault shell menubar\n" + Command(ID_MENU_ALERT) + "press enter\ncontrols\n" + Command(IDOK));
    ok_seq(run.events,
           {{"msgbox", {{"text", "Soft Key Bar 생성 실패!"}, {"caption", "Quillon"}}},
            {"dialog.close", {{"id", 138}, {"result", 1}}}, {"dialog.close", {{"id", 102}}}},
           "dialog without soft keys");
    EXPECT_EQ(run.controls.at(0).value("dialog", 0), IDD_SET_ALERT);
}

// --- Key lock ---------------------------------------------------------------------

TEST(KeylockDialog, UntickingDisablesButKeepsTheValues) {
    Phone phone;
    const PhoneRun run = phone.Start(Command(ID_MENU_KEYLOCK) + "controls\n" + Click(IDC_AUTO_KEYLOCK) + "controls\n" +
                                     Command(IDOK) + "controls\n" + Command(ID_MENU_KEYLOCK) + "controls\n" +
                                     Click(IDC_AUTO_KEYLOCK) + "controls\n");
    EXPECT_EQ(run.Control(0, IDC_KEYLOCK_TIMEOUT)["items"],
              Json::parse(R"(["30초 후","1분 후","3분 후","5분 후","10분 후"])"));
    EXPECT_EQ(run.Selected(0, IDC_KEYLOCK_TIMEOUT), 2);
    for (int id : {IDC_KEYLOCK_TIMEOUT, IDC_KEYLOCK_GROUP, IDC_KEYLOCK_VIBRATE}) {
        EXPECT_TRUE(run.Enabled(0, id)) << id;
        EXPECT_FALSE(run.Enabled(1, id)) << id;
        EXPECT_FALSE(run.Enabled(3, id)) << id;
        EXPECT_TRUE(run.Enabled(4, id)) << id;
    }
    EXPECT_EQ(run.Selected(1, IDC_KEYLOCK_TIMEOUT), 2);
    EXPECT_TRUE(run.Checked(3, IDC_KEYLOCK_VIBRATE)) << "shown from the setting while disabled";
    EXPECT_EQ(run.Text(2, IDC_KEYLOCK_STATUS), "자동 키잠금: 사용안함");
    ok_seq(run.events, {kFeedback, Write("EnableAutoKeylock", 0), kFeedback, Write("EnableAutoKeylock", 1)}, "writes");
}

TEST(KeylockDialog, TheChosenIdleTimeIsTheOneThatLocks) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "device idle-timeout 30s\n" + Command(ID_MENU_KEYLOCK) + Select(IDC_KEYLOCK_TIMEOUT, 0) +
        Select(IDC_KEYLOCK_TIMEOUT, 4) + Select(IDC_KEYLOCK_TIMEOUT, 0) + Click(IDC_KEYLOCK_VIBRATE) + Command(IDOK) +
        "wait 30s\nwait 34t\n");
    ok_seq(WithoutKey(run.events, "HKLM\\System\\State"),
           {Write("KeylockTimeout", 0), Write("KeylockTimeout", 4), Write("KeylockTimeout", 0),
            Write("EnableVibrateAlertKeylock", 0), {"keypad", {{"locked", true}}}},
           "idle time");
    for (const Json& v : run.Of("vibrate")) EXPECT_EQ(v["ms"], 50) << "no lock vibration";
    const long long idle_at = run.Of("power").at(0)["t"];
    const long long locked_at = run.Of("keypad").at(0)["t"];
    EXPECT_GE(locked_at - idle_at, 10 * 3000);
    EXPECT_LE(locked_at - idle_at, 11 * 3000);
}

// --- 3G connection ----------------------------------------------------------------

TEST(Set3GDialog, SktPhoneBlocksAndAllowsWithTheMailGroupFollowing) {
    Phone phone;
    PhoneRun run = phone.Start(Command(ID_MENU_3GSVC) + "controls\n" + Click(IDC_BLOCK_3GSVC) + "controls\n" +
                               Click(IDC_TMAIL_3GSVC) + Click(IDC_TMAIL_3GSVC_ALERT) + Command(IDOK));
    EXPECT_FALSE(run.Checked(0, IDC_BLOCK_3GSVC));
    for (int id : {IDC_TMAIL_3GSVC, IDC_TMAIL_3GSVC_ALERT}) EXPECT_TRUE(run.Checked(0, id)) << id;
    for (int id : kMailGroup) {
        EXPECT_FALSE(run.Enabled(0, id)) << id;
        EXPECT_TRUE(run.Enabled(1, id)) << id;
    }
    ok_seq(run.events,
           {kFeedback, Moved("NoDevCfg"), Moved("NoEntry"), {"reg.delete", {{"name", "DevCfg"}}},
            {"reg.delete", {{"name", "Entry"}}}, kFeedback, Write("enableTmail3Gsvc", 0), kFeedback,
            Write("enableTmail3GsvcAlert", 0)},
           "block, no setting written for it");

    run = phone.Start("controls\n" + Command(ID_MENU_3GSVC) + "controls\n" + Click(IDC_BLOCK_3GSVC) + "controls\n" +
                      Command(IDOK) + "controls\n");
    EXPECT_EQ(run.Text(0, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: 차단") << "the next start reads the entry";
    EXPECT_TRUE(run.Checked(1, IDC_BLOCK_3GSVC));
    EXPECT_FALSE(run.Checked(1, IDC_TMAIL_3GSVC));
    for (int id : kMailGroup) {
        EXPECT_TRUE(run.Enabled(1, id)) << id;
        EXPECT_FALSE(run.Enabled(2, id)) << id;
    }
    ok_seq(run.events, {Moved("DevCfg"), Moved("Entry")}, "allow");
    EXPECT_EQ(run.Text(3, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: 허용");
}

TEST(Set3GDialog, KtfPhoneAndPhoneWithoutEntry) {
    Phone ktf("ktf");
    PhoneRun run =
        ktf.Start(Command(ID_MENU_3GSVC) + "controls\n" + Click(IDC_BLOCK_3GSVC) + "controls\n" + Click(IDC_BLOCK_3GSVC));
    for (std::size_t which : {0u, 1u})
        for (int id : kMailGroup) {
            EXPECT_FALSE(run.Enabled(which, id)) << id;
            EXPECT_FALSE(run.Checked(which, id)) << id;
        }
    EXPECT_TRUE(run.Checked(1, IDC_BLOCK_3GSVC));
    const Json ktf_key = "HKCU\\Comm\\RasBook\\KTF IE GPRS";
    ok_seq(run.events,
           {{"reg.set", {{"key", ktf_key}, {"name", "NoDevCfg"}}}, {"reg.set", {{"key", ktf_key}, {"name", "NoEntry"}}},
            {"reg.set", {{"key", ktf_key}, {"name", "DevCfg"}}}, {"reg.set", {{"key", ktf_key}, {"name", "Entry"}}}},
           "block and allow the second carrier's own entry");

    Phone none("none");
    run = none.Start(Command(ID_MENU_3GSVC) + "controls\n" + Click(IDC_BLOCK_3GSVC) + Click(IDC_BLOCK_3GSVC) +
                     Command(IDOK) + "controls\n");
    for (int id : {IDC_BLOCK_3GSVC, IDC_TMAIL_3GSVC, IDC_TMAIL_3GSVC_ALERT, IDC_TMAIL_GROUP})
        EXPECT_TRUE(run.Enabled(0, id)) << id;
    for (int id : {IDC_BLOCK_3GSVC, IDC_TMAIL_3GSVC, IDC_TMAIL_3GSVC_ALERT}) EXPECT_FALSE(run.Checked(0, id)) << id;
    ok_seq_of(run.events, {}, {"reg.set", "reg.delete"}, "no entry to move");
    EXPECT_EQ(run.Text(1, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: 허용") << "the state follows the box all the same";
}

// --- General ----------------------------------------------------------------------

TEST(GeneralDialog, TheAutostartBoxMakesAndRemovesTheShortcut) {
    Phone phone;
    PhoneRun run = phone.Start(Command(ID_MENU_GENERAL) + "controls\n" + Click(IDC_AUTOSTART) + Click(IDC_AUTOSTART) +
                               Click(IDC_AUTOSTART) + Click(IDC_POWERKEY_UNLOCK));
    EXPECT_FALSE(run.Checked(0, IDC_AUTOSTART));
    EXPECT_TRUE(run.Checked(0, IDC_POWERKEY_UNLOCK));
    ok_seq(run.events,
           {kFeedback,
            {"shortcut.create",
             {{"path", "\\Windows\\StartUp\\Quillon.lnk"}, {"target", "\"\\Program Files\\Quillon\\Quillon.exe\""}}},
            kFeedback, {"file.delete", {{"path", "\\Windows\\StartUp\\Quillon.lnk"}}}, kFeedback,
            {"shortcut.create", {}}, kFeedback, Write("EnablePowerKeyUnlock", 0)},
           "shortcut, and only the power key writes a setting");
    EXPECT_TRUE(phone.Start(Command(ID_MENU_GENERAL) + "controls\n").Checked(0, IDC_AUTOSTART))
        << "found at the next start";

    phone.CopyProgramTo("Quillon.exe");
    // The box opens ticked: the first click removes the shortcut, the second makes it anew.
    run = phone.Start(Command(ID_MENU_GENERAL) + Click(IDC_AUTOSTART) + Click(IDC_AUTOSTART),
                      {"--exe-path", "\\Quillon.exe"});
    ok_seq(run.events, {{"shortcut.create", {{"target", "\"\\Quillon.exe\""}}}}, "from the root folder");
}

TEST(GeneralDialog, UntickingWhenTheShortcutIsAlreadyGoneChangesNothingElse) {
    Phone phone;
    const PhoneRun run = phone.Start(Command(ID_MENU_GENERAL) + Click(IDC_AUTOSTART) +
                                     "file delete \"\\Windows\\StartUp\\Quillon.lnk\"\n" + Click(IDC_AUTOSTART) +
                                     "controls\n");
    EXPECT_EQ(run.status, 0) << run.errors;
    ok_seq_of(run.events, {{"shortcut.create", {}}, {"file.delete", {}}}, {"msgbox"}, "only the script deleted it");
    EXPECT_FALSE(run.Checked(0, IDC_AUTOSTART));
}

TEST(GeneralDialog, AFailedShortcutStillShowsTheWish) {
    Phone phone;
    const PhoneRun run = phone.Start("fault shell shortcut\n" + Command(ID_MENU_GENERAL) + Click(IDC_AUTOSTART) +
                                     "press enter\n" + Command(IDOK) + Command(ID_MENU_GENERAL) + "controls\n");
    ok_seq_of(run.events, {{"msgbox", {{"text", "설정 저장 실패!"}}}}, {"shortcut.create"}, "nothing made, the user told");
    EXPECT_TRUE(run.Checked(0, IDC_AUTOSTART));
}

}  // namespace
}  // namespace scenario
