// Starting and ending Quillon from the headless phone: the launcher's `start` in this
// host and as a second instance, `quit`, the program's own end, and the home screen.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/script_lines.h"
#include "common/child_process.h"

using qtest::lines_of;
using qtest::run_quillon;
using qtest::TempDir;
using Json = nlohmann::json;

namespace {

struct ScriptRun {
    int status;
    std::vector<Json> events;
    std::vector<std::string> output;  // lines that are not events
    std::string err;

    std::vector<Json> of(const std::string& kind) const {
        std::vector<Json> out;
        for (const auto& e : events)
            if (e["ev"] == kind) out.push_back(e);
        return out;
    }
    std::vector<std::string> kinds() const {
        std::vector<std::string> out;
        for (const auto& e : events) out.push_back(e["ev"]);
        return out;
    }
};

class Launcher : public ::testing::Test {
protected:
    ScriptRun script(const std::string& text) {
        qtest::write_file(dir / "script.txt", text);
        const auto r = run_quillon(
            {"--device", device().string(), "--headless", "--no-start", "--script", (dir / "script.txt").string()});
        ScriptRun run{r.status, {}, {}, r.err};
        for (const auto& line : lines_of(r.out)) {
            Json j = Json::parse(line, nullptr, false);
            if (!j.is_discarded() && j.is_object() && j.contains("ev")) run.events.push_back(j);
            else run.output.push_back(line);
        }
        return run;
    }
    std::filesystem::path device() const { return dir / "device"; }
    TempDir dir;
};

TEST_F(Launcher, StartingARunningQuillonAgainBringsItsWindowBackWhileTimeHoldsStill) {
    const ScriptRun r = script(
        "start\n"
        "wait 2s\n"
        "press left        # close: the window hides\n"
        "start\n"
        "wait 1s\n"
        "missed 1\n");
    ASSERT_EQ(r.status, 0) << r.err;

    // One program with one watch timer; the second start is a process of its own that
    // ends at once, after bringing the first one's window to the front.
    EXPECT_EQ(r.of("dialog.open").size(), 1u);
    EXPECT_EQ(r.of("timer.set").size(), 1u);
    const auto starts = r.of("process.start");
    const auto exits = r.of("process.exit");
    ASSERT_EQ(starts.size(), 2u);
    ASSERT_EQ(exits.size(), 2u);
    EXPECT_EQ(starts[1]["t"], 2000);
    EXPECT_EQ(exits[0]["t"], 2000);  // the second instance, at the moment it started
    EXPECT_EQ(exits[0]["code"], 0);
    const auto fronts = r.of("window.foreground");
    ASSERT_EQ(fronts.size(), 2u);
    EXPECT_EQ(fronts[1]["t"], 2000);
    EXPECT_EQ(fronts[1]["title"], "QUILLON");
    EXPECT_EQ(r.of("reg.set").at(0)["t"], 3000);
    // The first program ends with the run, by its own end command.
    EXPECT_EQ(r.of("dialog.close").size(), 1u);
    EXPECT_EQ(exits[1]["t"], 3000);
}

TEST_F(Launcher, QuitEndsQuillonAndALaterStartRunsItAfresh) {
    const ScriptRun r = script("start\nwait 1s\nquit\nquit\nwait 1s\nstart\nwait 1s\n");
    EXPECT_EQ(r.status, 1);  // the second quit finds nothing to end
    EXPECT_NE(r.err.find("line 4: quit: Quillon does not run here"), std::string::npos) << r.err;
    const auto opens = r.of("dialog.open");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1]["t"], 2000);
    const auto closes = r.of("dialog.close");
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0]["t"], 1000);
    EXPECT_EQ(r.of("timer.kill").size(), 2u);
}

TEST_F(Launcher, CopyAtAnotherPathMeetsTheRunningInstance) {
    ASSERT_EQ(script("# make the device\n").status, 0);
    const auto copy = device() / "fs" / "Storage Card" / "Quillon.exe";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(device() / "fs" / "Program Files" / "Quillon" / "Quillon.exe", copy);

    const ScriptRun r = script(
        "start\n"
        "start --exe-path \"\\Storage Card\\Quillon.exe\"\n"
        "start --exe-path \"\\Storage Card\\Missing.exe\"\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 3: start: there is no program at \\Storage Card\\Missing.exe"), std::string::npos)
        << r.err;
    const auto starts = r.of("process.start");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1]["file"], "\\Storage Card\\Quillon.exe");
    EXPECT_EQ(r.of("window.foreground").size(), 2u);
    EXPECT_EQ(r.of("dialog.open").size(), 1u);
}

TEST_F(Launcher, RunEndsWhenQuillonEndsByItself) {
    const ScriptRun r = script("start\nwait 1s\n" + qtest::Command(ID_MENU_EXIT) + "missed 4\nwait 1h\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.of("reg.set").empty());  // nothing after the program's end ran
    EXPECT_EQ(r.events.back()["ev"], "process.exit");
    EXPECT_EQ(r.events.back()["t"], 1000);
    EXPECT_NE(r.err.find("stops before"), std::string::npos) << r.err;
}

// The end command waits in the queue of the main window's thread, which waits on the
// mail client; once the client closes, the program ends at the moment the user starts
// it again. That start must meet the ended program and run it here, not as a second
// instance that finds no first one and stays in a host nobody drives.
TEST_F(Launcher, AStartAsTheProgramEndsRunsItHere) {
    const ScriptRun r = script("start\n" + qtest::Command(ID_MENU_3GSVC) + qtest::Click(IDC_BLOCK_3GSVC) +
                               qtest::Command(IDOK) + "mail start\nwait 2t\nquit\nmail close\nstart\nwait 1s\nquit\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 7: quit: Quillon did not end"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("line 11"), std::string::npos) << "the last quit ends the program started here: " << r.err;
    std::size_t program_runs = 0, main_windows = 0;
    for (const auto& e : r.of("process.start")) program_runs += e["file"] == "\\Program Files\\Quillon\\Quillon.exe";
    for (const auto& e : r.of("dialog.open")) main_windows += e["id"] == 102;
    EXPECT_EQ(program_runs, 2u);
    EXPECT_EQ(main_windows, 2u);

    // Should a second instance still stay (under the real clock the end can fall between
    // the host's look and the child's), its host ends it and says so to the parent.
    const auto child = run_quillon({"--child-program", "--device", device().string(), "--exe-path",
                                    "\\Program Files\\Quillon\\Quillon.exe", "--clock", "virtual"});
    EXPECT_EQ(child.status, 124) << child.err;
    EXPECT_NE(child.out.find("\"dialog.close\",\"id\":102"), std::string::npos) << child.out;
}

TEST_F(Launcher, HomeScreenAndItsSoftKey) {
    const ScriptRun r = script(
        "missed 2\n"
        "start\n"
        "press left\n"
        "screen\n"
        "press left\n"
        "screen\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.output.size(), 28u);
    // The home screen, drawn the same in every run under the virtual clock.
    EXPECT_NE(r.output[0].find("SCH-M620"), std::string::npos) << r.output[0];
    EXPECT_NE(r.output[2].find("09:00"), std::string::npos) << r.output[2];
    EXPECT_EQ(r.output[2].find("09:00:"), std::string::npos) << "the home screen shows no seconds";
    const std::string home = [&] {
        std::string s;
        for (int i = 0; i < 14; ++i) s += r.output[i] + "\n";
        return s;
    }();
    EXPECT_NE(home.find("부재중 전화                        2"), std::string::npos) << home;
    EXPECT_EQ(r.output[13].rfind(" Quillon", 0), 0u) << r.output[13];
    // Its left soft key brought Quillon back.
    EXPECT_EQ(r.output[14].rfind("QUILLON", 0), 0u) << r.output[14];
    EXPECT_EQ(r.of("dialog.open").size(), 1u);
    EXPECT_EQ(r.of("process.start").size(), 2u);
}

// Two phones on one device is never what the user meant: the second is refused at
// once, says which phone holds the device and how to drive it, and changes nothing.
TEST(SecondPhone, APhoneOnADeviceInUseIsRefused) {
    TempDir dir;
    const std::string device = (dir / "device").string();
    qtest::Child first({"--device", device, "--headless"});
    first.send("missed 1\n");
    ASSERT_TRUE(first.line_containing("Missed Call Count")) << first.err();

    const auto second = run_quillon({"--device", device, "--headless", "--script", "/dev/null"});
    EXPECT_NE(second.status, 0);
    EXPECT_NE(second.err.find("is in use by the phone of process " + std::to_string(first.pid())), std::string::npos)
        << second.err;
    EXPECT_NE(second.err.find("ctl COMMAND"), std::string::npos) << second.err;
    EXPECT_EQ(second.out, "");
    // The companions still reach the device and its phone.
    EXPECT_EQ(run_quillon({"--device", device, "ctl", "reg", "get", "HKCU\\System\\State\\Phone", "Missed Call Count"}).out,
              "dword:1\n");
    first.send("quit\n");
    first.close_stdin();
    EXPECT_EQ(first.finish(), 0) << first.err();
    // Once the first has ended, the device is free again.
    EXPECT_EQ(run_quillon({"--device", device, "--headless", "--script", "/dev/null"}).status, 0);
}

}  // namespace
