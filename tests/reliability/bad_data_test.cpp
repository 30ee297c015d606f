// Bad data at start: settings and phone state stored with the wrong type or size, out
// of range, negative or huge; an over-long profile name; phone-book values too large to
// read; a device without its sounds or whose start-up folder cannot take a file. In
// every case the program starts, shows its status lines and falls back as its rules
// say: a setting whose data is not exactly 4 bytes reads as missing and takes its
// default, and what cannot be read is never overwritten or lost.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/build_paths.h"
#include "common/child_process.h"
#include "common/script_lines.h"

namespace reltest {
namespace {

using namespace qtest;

const char* const kSettings[] = {"enableTmail3Gsvc",  "enableTmail3GsvcAlert", "enableCallAlert",
                                 "enableSmsAlert",    "AlertInterval",         "EnableVibrateAlert",
                                 "EnableAutoKeylock", "KeylockTimeout",        "EnableVibrateAlertKeylock",
                                 "EnablePowerKeyUnlock"};

// Script lines storing `data` (in the `reg set` form) under every setting.
std::string every_setting(const std::string& data) {
    std::string lines;
    for (const char* name : kSettings) lines += "reg set HKCU\\Software\\Quillon " + std::string(name) + " " + data + "\n";
    return lines;
}

std::string hex_bytes(std::size_t count, const char* byte = "5a") {
    std::string out = "hex:";
    for (std::size_t i = 0; i < count; ++i) out += (i ? "," : "") + std::string(byte);
    return out;
}

struct PhoneRun {
    Result result;
    std::vector<Json> events;
    std::vector<Json> controls;  // each `controls` output, in order

    std::size_t count(const std::string& kind) const {
        std::size_t n = 0;
        for (const Json& e : events) n += e.value("ev", "") == kind ? 1 : 0;
        return n;
    }
};

Json control(const Json& window, int id) {
    for (const Json& c : window.value("controls", Json::array()))
        if (c.value("id", 0) == id) return c;
    return Json();
}

std::string text_of(const Json& window, int id) { return control(window, id).value("text", ""); }

class BadData : public ::testing::Test {
protected:
    std::string device() const { return (dir_ / "device").string(); }
    fs::path fs_root() const { return dir_ / "device" / "fs"; }

    // Creates the device without starting the program.
    void make_device() {
        const Result r = run_quillon({"--headless", "--device", device(), "--no-start", "--script", "/dev/null"});
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // Runs a script with the phone prepared first: `prepare` runs before the program
    // starts, `script` after.
    // `launcher`, when given, is a command line that runs the phone's command line
    // appended to it.
    PhoneRun run(const std::string& prepare, const std::string& script, std::vector<std::string> launcher = {}) {
        const fs::path file = dir_ / ("script" + std::to_string(runs_++) + ".txt");
        write_file(file, prepare + "start\n" + script);
        PhoneRun r;
        const std::vector<std::string> phone{"--headless", "--device", device(), "--no-start", "--script", file.string()};
        if (launcher.empty()) {
            r.result = run_quillon(phone);
        } else {
            const std::string binary = launcher.front();
            launcher.erase(launcher.begin());
            launcher.push_back(qtest::kQuillonBinary);
            launcher.insert(launcher.end(), phone.begin(), phone.end());
            r.result = run_quillon(launcher, {}, binary);
        }
        for (Json& j : json_lines(r.result.out)) {
            if (j.contains("controls")) r.controls.push_back(std::move(j));
            else r.events.push_back(std::move(j));
        }
        return r;
    }

    // The printed value of `reg get`.
    std::string reg_get(const std::string& key, const std::string& name) {
        const fs::path file = dir_ / "get.txt";
        write_file(file, "reg get \"" + key + "\" \"" + name + "\"\n");
        const Result g = run_quillon({"--headless", "--device", device(), "--no-start", "--script", file.string()});
        return g.out.substr(0, g.out.find('\n'));
    }

    // The four status lines of the main window, checked against the expected texts.
    static void expect_status(const Json& main, const std::string& g3, bool alerts, bool keylock) {
        EXPECT_EQ(main.value("dialog", 0), IDD_MAIN);
        EXPECT_EQ(text_of(main, IDC_MODEL), "모델: SCH-M620");
        EXPECT_EQ(text_of(main, IDC_3GSVC_STATUS), "3G 인터넷서비스 접속: " + g3);
        EXPECT_EQ(text_of(main, IDC_ALERT_STATUS), alerts ? "부재중수신 알림: 사용" : "부재중수신 알림: 사용안함");
        EXPECT_EQ(text_of(main, IDC_KEYLOCK_STATUS), keylock ? "자동 키잠금: 사용" : "자동 키잠금: 사용안함");
    }

    TempDir dir_;
    int runs_ = 0;
};

// Opens the alert and the key lock dialog and prints each, then ends the program.
const std::string kShowSettings = "controls\n" + Command(ID_MENU_ALERT) + "controls\n" + Command(IDOK) +
                                  Command(ID_MENU_KEYLOCK) + "controls\n" + Command(IDOK) + "quit\n";

TEST_F(BadData, SettingsOfAnySizeButFourBytesTakeTheirDefaults) {
    // 5, 8, 1, 2 and 0 bytes; all zeros, which as a proper word would switch things off.
    for (const std::string data : {"hex(4):00,00,00,00,00", "qword:0", "hex:00", "sz:", "hex(4):"}) {
        SCOPED_TRACE(data);
        const PhoneRun r = run(every_setting(data), kShowSettings);
        ASSERT_EQ(r.result.status, 0) << r.result.err;
        ASSERT_EQ(r.controls.size(), 3u) << r.result.out;
        expect_status(r.controls[0], "허용", true, true);
        const Json& alert = r.controls[1];
        EXPECT_EQ(alert.value("dialog", 0), IDD_SET_ALERT);
        for (int id : {IDC_CALL_ALERT, IDC_SMS_ALERT, IDC_ALERT_VIBRATE})
            EXPECT_TRUE(control(alert, id).value("checked", false)) << id;
        EXPECT_EQ(control(alert, IDC_ALERT_INTERVAL).value("selected", -2), 1);
        const Json& keylock = r.controls[2];
        EXPECT_EQ(keylock.value("dialog", 0), IDD_SET_KEYLOCK);
        for (int id : {IDC_AUTO_KEYLOCK, IDC_KEYLOCK_VIBRATE}) EXPECT_TRUE(control(keylock, id).value("checked", false)) << id;
        EXPECT_EQ(control(keylock, IDC_KEYLOCK_TIMEOUT).value("selected", -2), 2);
    }
    // The same zeros as 4-byte words are taken: everything off, first list entries.
    const PhoneRun zero = run(every_setting("dword:0"), kShowSettings);
    ASSERT_EQ(zero.controls.size(), 3u) << zero.result.out;
    expect_status(zero.controls[0], "허용", false, false);
    EXPECT_EQ(control(zero.controls[1], IDC_ALERT_INTERVAL).value("selected", -2), 0);
    EXPECT_FALSE(control(zero.controls[1], IDC_CALL_ALERT).value("checked", true));
    EXPECT_EQ(control(zero.controls[2], IDC_KEYLOCK_TIMEOUT).value("selected", -2), 0);
}

TEST_F(BadData, FourByteValuesOfAnyTypeAreTakenAsWords) {
    // "1" as REG_SZ is 31 00 00 00: the word 49, on, and outside both lists.
    const PhoneRun r = run(every_setting("sz:1") + "reg set HKCU\\Software\\Quillon EnableAutoKeylock hex(7):00,00,00,00\n",
                      kShowSettings);
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    ASSERT_EQ(r.controls.size(), 3u) << r.result.out;
    expect_status(r.controls[0], "허용", true, false);
    EXPECT_EQ(control(r.controls[1], IDC_ALERT_INTERVAL).value("selected", -2), -1);
    EXPECT_EQ(control(r.controls[2], IDC_KEYLOCK_TIMEOUT).value("selected", -2), -1);
}

TEST_F(BadData, OutOfRangeNegativeAndHugeSettingsKeepTheProgramWorking) {
    const std::string prepare = every_setting("dword:0x80000000") +
                                "reg set HKCU\\Software\\Quillon AlertInterval dword:0xffffffff\n"
                                "reg set HKCU\\Software\\Quillon KeylockTimeout dword:2147483647\n";
    // Reminders and the key lock run for a while with no tick limits from the lists,
    // then the user repairs the interval by choosing an entry.
    const PhoneRun r = run(prepare,
                      "controls\nmissed 3\nsms 2\nwait 10m\npower useridle\nwait 10m\npower on\n" +
                          Command(ID_MENU_ALERT) + "controls\n" + Select(IDC_ALERT_INTERVAL, 2) + Command(IDOK) +
                          "wait 1m\ncontrols\nquit\n");
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    ASSERT_EQ(r.controls.size(), 3u) << r.result.out;
    expect_status(r.controls[0], "허용", true, true);
    EXPECT_EQ(control(r.controls[1], IDC_ALERT_INTERVAL).value("selected", -2), -1);
    expect_status(r.controls[2], "허용", true, true);
    EXPECT_EQ(reg_get("HKCU\\Software\\Quillon", "AlertInterval"), "dword:2");
    EXPECT_EQ(reg_get("HKCU\\Software\\Quillon", "KeylockTimeout"), "dword:2147483647");
}

TEST_F(BadData, PhoneStateValuesOfTheWrongTypeCountAsNothingPending) {
    const std::string prepare =
        "reg set \"HKCU\\System\\State\\Phone\" \"Missed Call Count\" sz:many\n"
        "reg set \"HKLM\\System\\State\\Messages\\SMS\\Unread\" Count qword:3\n"
        "reg set \"HKLM\\System\\State\\Phone\" \"Active Call Count\" hex:01\n"
        "reg set \"HKCU\\ControlPanel\\Profiles\" ActiveProfile dword:1\n"
        "reg set \"HKLM\\System\\State\" Lock sz:locked\n";
    const PhoneRun r = run(prepare, "controls\nwait 10m\npower useridle\nwait 5m\npower on\nwait 1m\ncontrols\nquit\n");
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    ASSERT_EQ(r.controls.size(), 2u) << r.result.out;
    expect_status(r.controls[0], "허용", true, true);
    expect_status(r.controls[1], "허용", true, true);
    // Counts that cannot be read are no missed call and no message to remind of.
    EXPECT_EQ(r.count("sound"), 0u) << r.result.out;
}

TEST_F(BadData, AProfileNameTooLongToReadDropsTheReminder) {
    // 49 characters and the terminator fit the program's 100-byte read; 50 do not.
    for (const auto& [length, reminded] : {std::pair{49, true}, std::pair{50, false}, std::pair{120, false}}) {
        SCOPED_TRACE(length);
        const std::string name(static_cast<std::size_t>(length), 'P');
        const PhoneRun r = run("profile " + name + "\n", "missed 2\nwait 3m\ncontrols\nquit\n");
        ASSERT_EQ(r.result.status, 0) << r.result.err;
        ASSERT_EQ(r.controls.size(), 1u) << r.result.out;
        expect_status(r.controls[0], "허용", true, true);
        EXPECT_EQ(r.count("sound") > 0, reminded) << r.result.out;
        EXPECT_EQ(r.count("vibrate"), 0u);
    }
}

TEST_F(BadData, PhoneBookValuesOver2048BytesReadAsAbsentAndAreKept) {
    const std::string key = "HKCU\\Comm\\RasBook\\SKT IE GPRS";
    for (const auto& [size, allowed] : {std::pair{2048u, true}, std::pair{2049u, false}, std::pair{60000u, false}}) {
        SCOPED_TRACE(size);
        const std::string data = hex_bytes(size);
        // The user switches the block off and on again in the 3G dialog.
        const PhoneRun r = run("reg set \"" + key + "\" DevCfg " + data + "\n",
                          "controls\n" + Command(ID_MENU_3GSVC) + "controls\n" + Click(IDC_BLOCK_3GSVC) +
                              Click(IDC_BLOCK_3GSVC) + Command(IDOK) + "controls\nquit\n");
        ASSERT_EQ(r.result.status, 0) << r.result.err;
        ASSERT_EQ(r.controls.size(), 3u) << r.result.out;
        expect_status(r.controls[0], allowed ? "허용" : "차단", true, true);
        EXPECT_EQ(control(r.controls[1], IDC_BLOCK_3GSVC).value("checked", allowed), !allowed);
        expect_status(r.controls[2], allowed ? "허용" : "차단", true, true);
        if (allowed) {
            // Back in the allowed form after block and allow.
            EXPECT_EQ(reg_get(key, "DevCfg"), data);
        } else {
            // Nothing could be moved: the oversized value is where it was, whole.
            EXPECT_EQ(reg_get(key, "DevCfg"), data);
            EXPECT_EQ(reg_get(key, "NoDevCfg").find("hex"), std::string::npos);
        }
    }
}

TEST_F(BadData, AMissingSoundFolderGivesTheDefaultSound) {
    make_device();
    const fs::path sounds = fs_root() / "Program Files" / "Quillon" / "Sound";
    ASSERT_TRUE(fs::is_directory(sounds));
    fs::remove_all(sounds);
    const PhoneRun r = run("", "controls\nmissed 2\nsms 1\nwait 3m\ncontrols\nquit\n");
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    ASSERT_EQ(r.controls.size(), 2u) << r.result.out;
    expect_status(r.controls[1], "허용", true, true);
    std::size_t sounds_played = 0;
    for (const Json& e : r.events) {
        if (e.value("ev", "") != "sound") continue;
        ++sounds_played;
        EXPECT_TRUE(e.value("missing", false)) << e.dump();
        EXPECT_GT(e.value("ms", 0), 0) << e.dump();
    }
    EXPECT_GE(sounds_played, 2u);
}

TEST_F(BadData, AStartUpFolderThatCannotTakeTheShortcut) {
    make_device();
    // A file where the start-up folder should be: the shortcut cannot be made.
    const fs::path startup = fs_root() / "Windows" / "StartUp";
    fs::remove_all(startup);
    write_file(startup, "not a folder");
    const PhoneRun r = run("", "controls\n" + Command(ID_MENU_GENERAL) + "controls\n" + Click(IDC_AUTOSTART) +
                                   "press enter\ncontrols\n" + Command(IDOK) + "controls\nquit\n");
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    ASSERT_EQ(r.controls.size(), 4u) << r.result.out;
    expect_status(r.controls[0], "허용", true, true);
    EXPECT_FALSE(control(r.controls[1], IDC_AUTOSTART).value("checked", true));
    // The box shows the wish; nothing was created and the program goes on.
    EXPECT_TRUE(control(r.controls[2], IDC_AUTOSTART).value("checked", false));
    EXPECT_EQ(r.count("shortcut.create"), 0u);
    EXPECT_EQ(r.count("msgbox"), 1u) << "the user is told that it could not be saved";
    expect_status(r.controls[3], "허용", true, true);
    EXPECT_EQ(read_file(startup), "not a folder");

    // The next start reads the file system again: no shortcut.
    const PhoneRun next = run("", Command(ID_MENU_GENERAL) + "controls\n" + Command(IDOK) + "quit\n");
    ASSERT_EQ(next.controls.size(), 1u) << next.result.out;
    EXPECT_FALSE(control(next.controls[0], IDC_AUTOSTART).value("checked", true));
}

// Root writes through file permissions, so as root the device's file system becomes a
// read-only bind mount in a mount namespace of the phone's own; otherwise its write
// permissions are taken away.
TEST_F(BadData, AReadOnlyDeviceFileSystem) {
    make_device();
    const std::string script =
        "controls\n" + Command(ID_MENU_GENERAL) + Click(IDC_AUTOSTART) + "press enter\n" + Command(IDOK) +
        "controls\nquit\n";
    PhoneRun r;
    if (::geteuid() == 0) {
        const std::vector<std::string> read_only_fs{
            "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
            R"(mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@")", "sh",
            fs_root().string()};
        if (run_quillon({"--mount", "/bin/true"}, {}, "/usr/bin/unshare").status != 0)
            GTEST_SKIP() << "root without a mount namespace of its own cannot make the folder read-only";
        r = run("", script, read_only_fs);
    } else {
        for (const auto& e : fs::recursive_directory_iterator(fs_root()))
            fs::permissions(e.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        fs::permissions(fs_root(), fs::perms::owner_write, fs::perm_options::remove);
        r = run("", script);
        fs::permissions(fs_root(), fs::perms::owner_write, fs::perm_options::add);
        for (const auto& e : fs::recursive_directory_iterator(fs_root()))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    ASSERT_EQ(r.controls.size(), 2u) << r.result.out;
    expect_status(r.controls[1], "허용", true, true);
    EXPECT_FALSE(fs::exists(fs_root() / "Windows" / "StartUp" / "Quillon.lnk"));
    EXPECT_EQ(r.count("msgbox"), 1u) << "the user is told that it could not be saved";
}

}  // namespace
}  // namespace reltest
