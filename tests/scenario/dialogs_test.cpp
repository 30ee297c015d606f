// The settings dialogs on the running phone: what each shows when it opens, what each
// click stores and writes, and how the dependent controls follow.
#include "scenario/phone_runner.h"

namespace scenario {
namespace {

const Expected kFeedback{"vibrate", {{"ms", 50}}};

Expected Write(const std::string& name, int data) {
    return {"reg.set", {{"key", "HKCU\\Software\\Quillon"}, {"name", name}, {"type", "dword"}, {"data", data}}};
}
Expected Moved(const std::string& name) { return {"reg.set", {{"name", name}}}; }

// --- Missed-call alert ------------------------------------------------------------

TEST(AlertDialog, TheIntervalControlsFollowTheTwoBoxes) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "command 32778\ncontrols\n"
        "click 1013\ncontrols\nclick 1014\ncontrols\ncommand 1\ncontrols\n"
        "command 32778\ncontrols\nclick 1014\ncontrols\n");
    EXPECT_EQ(run.Control(0, 1016)["items"], Json::parse(R"(["한번만","2분마다","10분마다"])"));
    EXPECT_EQ(run.Selected(0, 1016), 1);
    for (int id : {1013, 1014, 1015}) EXPECT_TRUE(run.Checked(0, id)) << id;
    for (int id : {1004, 1016, 1017, 1015}) {
        EXPECT_TRUE(run.Enabled(1, id)) << "one box still ticked, " << id;
        EXPECT_FALSE(run.Enabled(2, id)) << "both unticked, " << id;
        EXPECT_FALSE(run.Enabled(4, id)) << "opened with both off, " << id;
        EXPECT_TRUE(run.Enabled(5, id)) << "ticked again, " << id;
    }
    EXPECT_EQ(run.Selected(2, 1016), 1) << "disabling keeps the value";
    EXPECT_TRUE(run.Checked(4, 1015));
    EXPECT_EQ(run.Text(3, 1004), "부재중수신 알림: 사용안함");
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
        "start\ncommand 32778\ncontrols\n"
        "select 1016 0\nselect 1016 2\nclick 1015\nclick 1015\ncommand 2\ncommand 32778\ncontrols\n",
        {"--no-start"});
    EXPECT_EQ(run.Selected(0, 1016), -1) << "a stored index outside the list selects nothing";
    EXPECT_EQ(run.Selected(1, 1016), 2);
    ok_seq(run.events,
           {Write("AlertInterval", 5), Write("EnableVibrateAlert", 0), kFeedback, Write("AlertInterval", 0),
            kFeedback, Write("AlertInterval", 2), kFeedback, Write("EnableVibrateAlert", 1), kFeedback,
            Write("EnableVibrateAlert", 0), {"dialog.close", {{"id", 138}, {"result", 2}}},
            {"dialog.close", {{"id", 138}}}, {"dialog.close", {{"id", 102}}}},
           "writes");
}

TEST(AlertDialog, AFailedWriteHoldsForTheRunOnly) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "fault registry write\ncommand 32778\nclick 1013\nclick 1014\ncommand 1\ncontrols\n"
        "fault registry write off\nquit\nstart\ncontrols\n");
    EXPECT_EQ(run.Text(0, 1004), "부재중수신 알림: 사용안함");
    EXPECT_EQ(run.Text(1, 1004), "부재중수신 알림: 사용");
}

TEST(AlertDialog, WithoutSoftKeysTheDialogStillOpens) {
    Phone phone;
    const PhoneRun run = phone.Start("fault shell menubar\ncommand 32778\npress enter\ncontrols\ncommand 1\n");
    ok_seq(run.events,
           {{"msgbox", {{"text", "Soft Key Bar 생성 실패!"}, {"caption", "Quillon"}}},
            {"dialog.close", {{"id", 138}, {"result", 1}}}, {"dialog.close", {{"id", 102}}}},
           "dialog without soft keys");
    EXPECT_EQ(run.controls.at(0).value("dialog", 0), 138);
}

// --- Key lock ---------------------------------------------------------------------

TEST(KeylockDialog, UntickingDisablesButKeepsTheValues) {
    Phone phone;
    const PhoneRun run = phone.Start("command 32779\ncontrols\nclick 1008\ncontrols\ncommand 1\ncontrols\n"
                                     "command 32779\ncontrols\nclick 1008\ncontrols\n");
    EXPECT_EQ(run.Control(0, 1009)["items"], Json::parse(R"(["30초 후","1분 후","3분 후","5분 후","10분 후"])"));
    EXPECT_EQ(run.Selected(0, 1009), 2);
    for (int id : {1009, 1018, 1010}) {
        EXPECT_TRUE(run.Enabled(0, id)) << id;
        EXPECT_FALSE(run.Enabled(1, id)) << id;
        EXPECT_FALSE(run.Enabled(3, id)) << id;
        EXPECT_TRUE(run.Enabled(4, id)) << id;
    }
    EXPECT_EQ(run.Selected(1, 1009), 2);
    EXPECT_TRUE(run.Checked(3, 1010)) << "shown from the setting while disabled";
    EXPECT_EQ(run.Text(2, 1005), "자동 키잠금: 사용안함");
    ok_seq(run.events, {kFeedback, Write("EnableAutoKeylock", 0), kFeedback, Write("EnableAutoKeylock", 1)}, "writes");
}

TEST(KeylockDialog, TheChosenIdleTimeIsTheOneThatLocks) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "device idle-timeout 30s\n"
        "command 32779\nselect 1009 0\nselect 1009 4\nselect 1009 0\nclick 1010\ncommand 1\nwait 30s\nwait 34t\n");
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
    PhoneRun run = phone.Start("command 32777\ncontrols\nclick 1004\ncontrols\nclick 1005\nclick 1006\ncommand 1\n");
    EXPECT_FALSE(run.Checked(0, 1004));
    for (int id : {1005, 1006}) EXPECT_TRUE(run.Checked(0, id)) << id;
    for (int id : {1005, 1006, 1007}) {
        EXPECT_FALSE(run.Enabled(0, id)) << id;
        EXPECT_TRUE(run.Enabled(1, id)) << id;
    }
    ok_seq(run.events,
           {kFeedback, Moved("NoDevCfg"), Moved("NoEntry"), {"reg.delete", {{"name", "DevCfg"}}},
            {"reg.delete", {{"name", "Entry"}}}, kFeedback, Write("enableTmail3Gsvc", 0), kFeedback,
            Write("enableTmail3GsvcAlert", 0)},
           "block, no setting written for it");

    run = phone.Start("controls\ncommand 32777\ncontrols\nclick 1004\ncontrols\ncommand 1\ncontrols\n");
    EXPECT_EQ(run.Text(0, 1003), "3G 인터넷서비스 접속: 차단") << "the next start reads the entry";
    EXPECT_TRUE(run.Checked(1, 1004));
    EXPECT_FALSE(run.Checked(1, 1005));
    for (int id : {1005, 1006, 1007}) {
        EXPECT_TRUE(run.Enabled(1, id)) << id;
        EXPECT_FALSE(run.Enabled(2, id)) << id;
    }
    ok_seq(run.events, {Moved("DevCfg"), Moved("Entry")}, "allow");
    EXPECT_EQ(run.Text(3, 1003), "3G 인터넷서비스 접속: 허용");
}

TEST(Set3GDialog, KtfPhoneAndPhoneWithoutEntry) {
    Phone ktf("ktf");
    PhoneRun run = ktf.Start("command 32777\ncontrols\nclick 1004\ncontrols\nclick 1004\n");
    for (std::size_t which : {0u, 1u})
        for (int id : {1005, 1006, 1007}) {
            EXPECT_FALSE(run.Enabled(which, id)) << id;
            EXPECT_FALSE(run.Checked(which, id)) << id;
        }
    EXPECT_TRUE(run.Checked(1, 1004));
    const Json ktf_key = "HKCU\\Comm\\RasBook\\KTF IE GPRS";
    ok_seq(run.events,
           {{"reg.set", {{"key", ktf_key}, {"name", "NoDevCfg"}}}, {"reg.set", {{"key", ktf_key}, {"name", "NoEntry"}}},
            {"reg.set", {{"key", ktf_key}, {"name", "DevCfg"}}}, {"reg.set", {{"key", ktf_key}, {"name", "Entry"}}}},
           "block and allow the second carrier's own entry");

    Phone none("none");
    run = none.Start("command 32777\ncontrols\nclick 1004\nclick 1004\ncommand 1\ncontrols\n");
    for (int id : {1004, 1005, 1006, 1007}) EXPECT_TRUE(run.Enabled(0, id)) << id;
    for (int id : {1004, 1005, 1006}) EXPECT_FALSE(run.Checked(0, id)) << id;
    ok_seq_of(run.events, {}, {"reg.set", "reg.delete"}, "no entry to move");
    EXPECT_EQ(run.Text(1, 1003), "3G 인터넷서비스 접속: 허용") << "the state follows the box all the same";
}

// --- General ----------------------------------------------------------------------

TEST(GeneralDialog, TheAutostartBoxMakesAndRemovesTheShortcut) {
    Phone phone;
    PhoneRun run = phone.Start("command 32787\ncontrols\nclick 1019\nclick 1019\nclick 1019\nclick 1020\n");
    EXPECT_FALSE(run.Checked(0, 1019));
    EXPECT_TRUE(run.Checked(0, 1020));
    ok_seq(run.events,
           {kFeedback,
            {"shortcut.create",
             {{"path", "\\Windows\\StartUp\\Quillon.lnk"}, {"target", "\"\\Program Files\\Quillon\\Quillon.exe\""}}},
            kFeedback, {"file.delete", {{"path", "\\Windows\\StartUp\\Quillon.lnk"}}}, kFeedback,
            {"shortcut.create", {}}, kFeedback, Write("EnablePowerKeyUnlock", 0)},
           "shortcut, and only the power key writes a setting");
    EXPECT_TRUE(phone.Start("command 32787\ncontrols\n").Checked(0, 1019)) << "found at the next start";

    phone.CopyProgramTo("Quillon.exe");
    // The box opens ticked: the first click removes the shortcut, the second makes it anew.
    run = phone.Start("command 32787\nclick 1019\nclick 1019\n", {"--exe-path", "\\Quillon.exe"});
    ok_seq(run.events, {{"shortcut.create", {{"target", "\"\\Quillon.exe\""}}}}, "from the root folder");
}

TEST(GeneralDialog, UntickingWhenTheShortcutIsAlreadyGoneChangesNothingElse) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "command 32787\nclick 1019\nfile delete \"\\Windows\\StartUp\\Quillon.lnk\"\nclick 1019\ncontrols\n");
    EXPECT_EQ(run.status, 0) << run.errors;
    ok_seq_of(run.events, {{"shortcut.create", {}}, {"file.delete", {}}}, {"msgbox"}, "only the script deleted it");
    EXPECT_FALSE(run.Checked(0, 1019));
}

TEST(GeneralDialog, AFailedShortcutStillShowsTheWish) {
    Phone phone;
    const PhoneRun run = phone.Start("fault shell shortcut\ncommand 32787\nclick 1019\ncommand 1\ncommand 32787\ncontrols\n");
    ok_seq_of(run.events, {}, {"shortcut.create", "msgbox"}, "nothing made, nothing said");
    EXPECT_TRUE(run.Checked(0, 1019));
}

}  // namespace
}  // namespace scenario
