// Changes the device refuses to store: each of the ten settings, the start-up shortcut
// and the phone-book form, changed while a storage fault is on and kept until the fault
// is off. What the user is told, what the debug output names, and what the device holds
// after the dialog closes and after a restart.
#include "scenario/phone_runner.h"

namespace scenario {
namespace {

const Expected kToldOnce{"msgbox", {{"text", "설정 저장 실패!"}, {"caption", "Quillon"}}};

Expected Debug(const std::string& text) { return {"debug", {{"text", text + "\n"}}}; }

struct Case {
    const char* what;
    const char* fault;   // the fault point, "SERVICE OPERATION"
    int menu;            // the command that opens the dialog
    std::string setup;   // run before the fault, the dialog closed
    std::string change;  // the user's change, then `undo` takes it back
    std::string undo;
    int control;
    const char* key;     // the registry key the change is stored under; none for the shortcut
    bool undo_refused;   // the second showing's undo is refused too, and told
    Json shown_changed;  // the control's state after `change`: "checked" or "selected"
    Json shown_undone;
    std::vector<Expected> events;  // feedback, refusals, the box and what was stored
};

// The script every case runs. First showing: the change is refused and told; taking it
// back and making it again is not told again; the fault goes off and closing the dialog
// stores it. After a restart, the second showing takes the change back under the fault;
// closing cannot store it, and the program's end does, once the fault is off.
std::string ScriptOf(const Case& c) {
    const std::string on = std::string("fault ") + c.fault + "\n";
    const std::string off = std::string("fault ") + c.fault + " off\n";
    return c.setup + on + Command(c.menu) + c.change + "press enter\ncontrols\n" + c.undo + c.change + off +
           Command(IDOK) + "quit\nstart\n" + Command(c.menu) + "controls\n" + on + c.undo +
           (c.undo_refused ? "press enter\n" : "") + Command(IDOK) + off + "quit\nstart\n" + Command(c.menu) +
           "controls\n" + Command(IDOK);
}

// A setting refused every time until the fault goes off: four refusals, two boxes.
Case Setting(const char* name, const char* fault, int error, int menu, int control, std::string change,
             std::string undo, Json changed, Json undone, LONG value, LONG old_value, std::string setup = "") {
    const auto refused = [&](LONG v) {
        return Debug("WriteRegDword(" + std::string(name) + ", " + std::to_string(v) + ") failed: " +
                     std::to_string(error));
    };
    const auto stored = [&](LONG v) -> Expected {
        return {"reg.set", {{"key", "HKCU\\Software\\Quillon"}, {"name", name}, {"data", v}}};
    };
    std::vector<Expected> events;
    // The set-up's own click vibrates too.
    if (!setup.empty()) events.push_back(kFeedback);
    events.insert(events.end(),
            {kFeedback, refused(value), kToldOnce, kFeedback, refused(old_value), kFeedback, refused(value),
             stored(value), kFeedback, refused(old_value), kToldOnce, refused(old_value), stored(old_value)});
    return {name, fault, menu, std::move(setup), std::move(change), std::move(undo), control,
            "HKCU\\Software\\Quillon", true, std::move(changed), std::move(undone), std::move(events)};
}

Case Checkbox(const char* name, const char* fault, int error, int menu, int control, std::string setup = "") {
    return Setting(name, fault, error, menu, control, Click(control), Click(control), {{"checked", false}},
                   {{"checked", true}}, 0, 1, std::move(setup));
}

Case List(const char* name, const char* fault, int error, int menu, int control, int from, int to) {
    return Setting(name, fault, error, menu, control, Select(control, to), Select(control, from), {{"selected", to}},
                   {{"selected", from}}, to, from);
}

// The mail-client boxes are live only while 3G is blocked.
const std::string kBlocked = Command(ID_MENU_3GSVC) + Click(IDC_BLOCK_3GSVC) + Command(IDOK);

Expected Gone(const std::string& name) { return {"reg.delete", {{"name", name}}}; }

std::vector<Case> Cases() {
    const std::string entry = "Comm\\RasBook\\SKT IE GPRS";
    const std::string shortcut = "\\Windows\\StartUp\\Quillon.lnk";
    const auto apply_refused = [&](int allow) {
        return Debug("Apply3GState(" + std::to_string(allow) + ") failed on " + entry + ": 112");
    };
    return {
        Checkbox("enableTmail3Gsvc", "storage full", 112, ID_MENU_3GSVC, IDC_TMAIL_3GSVC, kBlocked),
        Checkbox("enableTmail3GsvcAlert", "registry write", 29, ID_MENU_3GSVC, IDC_TMAIL_3GSVC_ALERT, kBlocked),
        Checkbox("enableCallAlert", "storage full", 112, ID_MENU_ALERT, IDC_CALL_ALERT),
        Checkbox("enableSmsAlert", "registry write", 29, ID_MENU_ALERT, IDC_SMS_ALERT),
        List("AlertInterval", "storage full", 112, ID_MENU_ALERT, IDC_ALERT_INTERVAL, 1, 2),
        Checkbox("EnableVibrateAlert", "storage full", 112, ID_MENU_ALERT, IDC_ALERT_VIBRATE),
        Checkbox("EnableAutoKeylock", "registry write", 29, ID_MENU_KEYLOCK, IDC_AUTO_KEYLOCK),
        List("KeylockTimeout", "storage full", 112, ID_MENU_KEYLOCK, IDC_KEYLOCK_TIMEOUT, 2, 0),
        Checkbox("EnableVibrateAlertKeylock", "storage full", 112, ID_MENU_KEYLOCK, IDC_KEYLOCK_VIBRATE),
        Checkbox("EnablePowerKeyUnlock", "storage full", 112, ID_MENU_GENERAL, IDC_POWERKEY_UNLOCK),
        // Taking the shortcut back deletes a file that is not there, which needs no
        // storage; deleting it later works on a full storage too.
        {"start-up shortcut", "storage full", ID_MENU_GENERAL, "", Click(IDC_AUTOSTART), Click(IDC_AUTOSTART),
         IDC_AUTOSTART, "", false, {{"checked", true}}, {{"checked", false}},
         {kFeedback, Debug("SHCreateShortcut(" + shortcut + ") failed: 112"), kToldOnce, kFeedback, kFeedback,
          Debug("SHCreateShortcut(" + shortcut + ") failed: 112"), {"shortcut.create", {{"path", shortcut}}},
          kFeedback, {"file.delete", {{"path", shortcut}}}}},
        // Taking the block back while the entry still has its allowed form moves nothing.
        {"phone-book form", "storage full", ID_MENU_3GSVC, "", Click(IDC_BLOCK_3GSVC), Click(IDC_BLOCK_3GSVC),
         IDC_BLOCK_3GSVC, "HKCU\\Comm\\RasBook\\SKT IE GPRS", true, {{"checked", true}}, {{"checked", false}},
         {kFeedback, apply_refused(0), kToldOnce, kFeedback, kFeedback, apply_refused(0), Moved("NoDevCfg"),
          Moved("NoEntry"), Gone("DevCfg"), Gone("Entry"), kFeedback, apply_refused(1), kToldOnce, apply_refused(1),
          Moved("DevCfg"), Moved("Entry"), Gone("NoDevCfg"), Gone("NoEntry")}},
    };
}

// The log without the registry events of keys other than `key`.
std::vector<Json> StoreEvents(const std::vector<Json>& log, const std::string& key) {
    std::vector<Json> out;
    for (const Json& e : log)
        if (!e.value("ev", "").starts_with("reg.") || e.value("key", "") == key) out.push_back(e);
    return out;
}

TEST(StorageFaults, ARefusedChangeIsToldOnceKeptAndStoredOnceTheStorageTakesIt) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        Phone phone;
        const PhoneRun run = phone.Start(ScriptOf(c));
        ASSERT_EQ(run.status, 0) << run.errors;
        ASSERT_EQ(run.controls.size(), 3u) << run.errors;
        const Json shown = run.Control(0, c.control);
        const Json after_close = run.Control(1, c.control);
        const Json after_end = run.Control(2, c.control);
        for (const auto& [field, value] : c.shown_changed.items()) {
            EXPECT_EQ(shown.value(field, Json()), value) << "the box shows the user's choice";
            EXPECT_EQ(after_close.value(field, Json()), value) << "stored when the dialog closed";
        }
        for (const auto& [field, value] : c.shown_undone.items())
            EXPECT_EQ(after_end.value(field, Json()), value) << "stored when the program ended";
        ok_seq_of(StoreEvents(run.events, c.key), c.events,
                  {"msgbox", "debug", "reg.set", "reg.delete", "shortcut.create", "file.delete"}, c.what);
    }
}

}  // namespace
}  // namespace scenario
