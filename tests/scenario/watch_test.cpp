// The watch engine on the running phone: reminders on the real watch timer, the key
// lock after the platform's own idle transition, and the mail client let through a
// blocked 3G connection.
#include "scenario/phone_runner.h"

namespace scenario {
namespace {

Expected Sound(const std::string& name) { return {"sound", {{"file", "\\Program Files\\Quillon\\Sound\\" + name}}}; }
Expected Mail(const std::string& ev) { return {ev, {{"file", "\\Windows\\e mail.exe"}}}; }

const std::string kBlock3G = Command(ID_MENU_3GSVC) + Click(IDC_BLOCK_3GSVC) + Command(IDOK);

TEST(Watch, CountsPendingAtStartAreRemindedOnThe42ndTick) {
    Phone phone;
    const PhoneRun run = phone.Start("missed 2\nstart\nwait 43t\n", {"--no-start"});
    ok_seq(run.events, {{"timer.set", {}}, Sound("missedCall.wav"), Sound("alert2.wav")}, "pending at start");
    EXPECT_EQ(run.Of("sound").at(0)["t"].get<long long>() - run.Of("timer.set").at(0)["t"].get<long long>(),
              42 * 3000);
}

TEST(Watch, RemindersKeepComingWhileASettingsDialogIsOpen) {
    Phone phone;
    const PhoneRun run = phone.Start("missed 1\n" + Command(ID_MENU_GENERAL) + "wait 43t\nwait 41t\n");
    ok_seq(run.events,
           {{"dialog.open", {{"id", 102}}}, {"dialog.open", {}}, Sound("missedCall.wav"), Sound("alert1.wav"),
            Sound("missedCall.wav"), Sound("alert1.wav"), {"dialog.close", {}}, {"dialog.close", {{"id", 102}}}},
           "two reminders behind the general settings");
}

TEST(Watch, PickingAnIntervalGivesTheOnceReminderAgain) {
    Phone phone;
    const PhoneRun run = phone.Start(
        "reg set HKCU\\Software\\Quillon AlertInterval dword:0\nstart\nmissed 1\nwait 100t\n" +
            Command(ID_MENU_ALERT) + Select(IDC_ALERT_INTERVAL, 0) + Command(IDOK) + "wait 40t\nwait 2t\n",
        {"--no-start"});
    ok_seq(WithoutKey(run.events, "HKLM\\System\\State"),
           {Moved("AlertInterval"), Moved("Missed Call Count"), Sound("missedCall.wav"), Sound("alert1.wav"),
            Moved("AlertInterval"), Sound("missedCall.wav"), Sound("alert1.wav")},
           "once, and once more 41 ticks after the interval was picked");
}

TEST(Watch, TheKeypadLocksAfterTheIdleTimeAndThePowerButtonUnlocks) {
    Phone phone;
    // The lock's own key press wakes the phone; it is idle again before the power button.
    const PhoneRun run = phone.Start("device idle-timeout 30s\nwait 4m\nwait 40s\npower button\nwait 2s\n");
    const long long idle_at = run.Of("power").at(0)["t"];
    const long long locked_at = run.Of("key").at(0)["t"];
    EXPECT_GE(locked_at - idle_at, 60 * 3000);
    EXPECT_LE(locked_at - idle_at, 61 * 3000);
    ok_seq(WithoutKey(run.events, "HKLM\\System\\State"),
           {{"key", {{"vk", 133}, {"up", false}, {"silent", true}, {"source", "inject"}}},
            {"keypad", {{"locked", true}}},
            {"key", {{"vk", 133}, {"up", true}}},
            {"key", {{"vk", 112}, {"up", false}, {"source", "inject"}}},
            {"key", {{"vk", 112}, {"up", true}}},
            {"key", {{"vk", 119}, {"up", false}, {"source", "inject"}}},
            {"keypad", {{"locked", false}}},
            {"key", {{"vk", 119}, {"up", true}}}},
           "lock and power-key unlock");

    std::string busy = "device idle-timeout 30s\n";
    for (int i = 0; i < 20; ++i) busy += "wait 25s\npress down\n";
    ok_seq_of(phone.Start(busy).events, {}, {"keypad"}, "never idle long enough");
}

TEST(Watch, TheMailClientIsLetThroughWhileItRuns) {
    Phone phone;
    const PhoneRun run = phone.Start(kBlock3G + "mail start\nwait 2t\nmail close\nwait 2t\n");
    ok_seq(run.events,
           {{"process.start", {}}, {"timer.set", {{"id", 100}}}, Moved("NoDevCfg"), Moved("NoEntry"), Mail("process.start"),
            {"mail.connect", {{"ok", false}}}, {"timer.kill", {{"id", 100}}}, Moved("DevCfg"), Moved("Entry"),
            Mail("process.exit"), Sound("enable3Gsvc.wav"), Mail("process.start"), {"mail.connect", {{"ok", true}}},
            Mail("process.exit"), {"timer.set", {{"id", 100}, {"ms", 3000}}}, Moved("NoDevCfg"), Moved("NoEntry"),
            Sound("disable3Gsvc.wav"), {"timer.kill", {{"id", 100}}}, {"process.exit", {}}},
           "pass-through");
    EXPECT_EQ(run.Of("sound").at(0)["mode"], "async");
}

// While the main window's thread waits on the restarted client, the user's keys wait in
// its queue and the script goes on; the power watch, a thread of its own, still unlocks.
TEST(Watch, DuringThePassThroughWaitKeysQueueAndThePowerWatchGoesOn) {
    Phone phone;
    const PhoneRun run = phone.Start(kBlock3G +
                                     "device idle-timeout off\nmail start\nwait 2t\nstart\nwait 1s\npress back\n"
                                     "press vk:133\npower useridle\npower button\nwait 1s\nmail close\nwait 1t\nquit\n");
    EXPECT_EQ(run.status, 0) << run.errors;
    const long long ended = run.Of("process.exit").at(0)["t"];  // the client the pass-through closed
    std::vector<Json> after;
    for (const Json& e : run.events)
        if (e["t"].get<long long>() >= ended) after.push_back(e);
    const Expected program = {"process.start", {{"file", "\\Program Files\\Quillon\\Quillon.exe"}}};
    const Expected program_end = {"process.exit", {{"file", "\\Program Files\\Quillon\\Quillon.exe"}}};
    ok_seq_of(after,
              {Mail("process.exit"), Mail("process.start"), {"window.foreground", {{"title", "e-mail"}}}, program,
               {"window.foreground", {{"title", "QUILLON"}}},
               program_end,  // the second instance, which brought the main window back
               {"key", {{"vk", 27}, {"up", false}, {"queued", true}}}, {"key", {{"vk", 27}, {"up", true}, {"queued", true}}},
               {"key", {{"vk", 133}, {"up", false}}}, {"keypad", {{"locked", true}}}, {"key", {{"vk", 133}, {"up", true}}},
               {"key", {{"vk", 112}, {"source", "inject"}}}, {"key", {{"vk", 112}, {"source", "inject"}}},
               {"key", {{"vk", 119}, {"source", "inject"}}}, {"keypad", {{"locked", false}}},
               {"key", {{"vk", 119}, {"source", "inject"}}}, Mail("process.exit"),
               {"window.hide", {{"title", "QUILLON"}}},  // the queued Back, once the thread is back
               program_end},
              {"window.foreground", "window.hide"}, "input queued behind the wait");
    // The client is restarted half a second after it ended, with the enable sound.
    EXPECT_EQ(run.Of("sound").at(0)["t"].get<long long>(), ended + 500);
    EXPECT_EQ(run.Of("process.start").at(2)["t"].get<long long>(), ended + 500);
    EXPECT_NE(run.errors.find("line 9: press: queued"), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find("line 10"), std::string::npos) << "the key-lock key never reaches a queue";
}

TEST(Watch, AMailClientThatCannotBeRestartedIsBlockedAgainOnTheNextTick) {
    Phone phone;
    const PhoneRun run = phone.Start(kBlock3G + "mail start\nfault process start\nwait 2t\nwait 2t\n");
    ok_seq(run.events,
           {{"process.start", {}}, {"timer.set", {{"id", 100}}}, Moved("NoDevCfg"), Moved("NoEntry"), Mail("process.start"),
            {"mail.connect", {{"ok", false}}}, {"timer.kill", {{"id", 100}}}, Moved("DevCfg"), Moved("Entry"),
            Mail("process.exit"), Sound("enable3Gsvc.wav"), {"timer.set", {{"id", 100}, {"ms", 3000}}},
            Moved("NoDevCfg"), Moved("NoEntry"), Sound("disable3Gsvc.wav"), {"timer.kill", {{"id", 100}}},
            {"process.exit", {}}},
           "no wait for a client that never started");
    EXPECT_EQ(run.status, 0) << run.errors;
}

TEST(Watch, NoPassThroughWhen3GIsAllowedTheExceptionIsOffOrTheCarrierIsKtf) {
    const std::pair<std::string, std::string> cases[] = {
        {"skt", ""},
        {"skt", kBlock3G + Command(ID_MENU_3GSVC) + Click(IDC_TMAIL_3GSVC) + Command(IDOK)},
        {"ktf", kBlock3G}};
    for (const auto& [model, prepare] : cases) {
        Phone phone(model);
        const PhoneRun run = phone.Start(prepare + "mail start\nwait 3t\n");
        EXPECT_EQ(run.Of("timer.kill").size(), 1u) << model << ": only at the end";
        EXPECT_EQ(run.Of("mail.connect").size(), 1u) << model << ": the client was not restarted";
    }
}

TEST(Watch, TheSoundsFollowTheirSettingAndTheEndBlocksAgainSilently) {
    Phone phone;
    PhoneRun run = phone.Start(kBlock3G + Command(ID_MENU_3GSVC) + Click(IDC_TMAIL_3GSVC_ALERT) + Command(IDOK) +
                               "mail start\nwait 2t\nmail close\nwait 2t\n");
    ok_seq(run.events, {{"mail.connect", {{"ok", false}}}, {"mail.connect", {{"ok", true}}}}, "still let through");
    ok_seq_of(run.events, {}, {"sound"}, "no 3G sounds");

    Phone other;
    run = other.Start(kBlock3G + "mail start\nwait 2t\nmail close\nquit\n");
    ok_seq(run.events,
           {Moved("NoDevCfg"), Moved("NoEntry"), {"timer.kill", {}}, Moved("DevCfg"), Moved("Entry"),
            {"timer.kill", {}}, Moved("NoDevCfg"), Moved("NoEntry")},
           "blocked again at the end");
    ok_seq(run.events, {Sound("enable3Gsvc.wav")}, "no disable sound at the end");
}

TEST(Watch, SwitchingTheExceptionOffWhilePassingBlocksAtOnce) {
    Phone phone;
    const PhoneRun run = phone.Start(kBlock3G + "mail start\nwait 2t\nmail close\n" + Command(ID_MENU_3GSVC) +
                                     Click(IDC_TMAIL_3GSVC) + Command(IDOK) + "wait 3t\nquit\n");
    ok_seq(run.events,
           {Moved("NoDevCfg"), Moved("NoEntry"), Moved("DevCfg"), Moved("Entry"), Moved("NoDevCfg"), Moved("NoEntry"),
            Moved("enableTmail3Gsvc")},
           "blocked by the dialog; neither the tick nor the end moves anything");
    ok_seq(run.events, {Sound("enable3Gsvc.wav")}, "no disable sound");
}

}  // namespace
}  // namespace scenario
