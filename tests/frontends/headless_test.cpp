// The headless phone run as `quillon --headless`: scripts, events, errors and exit codes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/script_lines.h"
#include "common/child_process.h"

using qtest::lines_of;
using qtest::run_quillon;
using qtest::TempDir;
using Json = nlohmann::json;

namespace {

std::vector<Json> events_of(const std::string& out) {
    std::vector<Json> events;
    for (const auto& line : lines_of(out)) {
        Json j = Json::parse(line, nullptr, false);
        if (!j.is_discarded() && j.is_object() && j.contains("ev")) events.push_back(j);
    }
    return events;
}

std::vector<Json> of_kind(const std::vector<Json>& events, const std::string& kind) {
    std::vector<Json> out;
    for (const auto& e : events)
        if (e["ev"] == kind) out.push_back(e);
    return out;
}

class Headless : public ::testing::Test {
protected:
    std::vector<std::string> phone(std::vector<std::string> extra) {
        std::vector<std::string> args{"--device", (dir / "device").string(), "--headless", "--no-start"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    qtest::Result script(const std::string& text, std::vector<std::string> extra = {}) {
        qtest::write_file(dir / "script.txt", text);
        extra.insert(extra.begin(), {"--script", (dir / "script.txt").string()});
        return run_quillon(phone(extra));
    }
    TempDir dir;
};

TEST_F(Headless, StateCommandsWriteTheRegistryAndReportEachWriteInTime) {
    const auto r = script(
        "missed 2          # a missed call arrives\n"
        "sms 3\n"
        "wait 2s\n"
        "call 1\n"
        "profile Silent\n"
        "wait 41t\n"
        "reg set \"HKCU\\Software\\Test Key\" Name \"sz:hello world\"\n"
        "reg get \"HKCU\\Software\\Test Key\" Name\n"
        "reg get HKCU\\System\\State\\Phone \"Missed Call Count\"\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto sets = of_kind(events_of(r.out), "reg.set");
    ASSERT_EQ(sets.size(), 5u) << r.out;

    EXPECT_EQ(sets[0]["t"], 0);
    EXPECT_EQ(sets[0]["key"], "HKCU\\System\\State\\Phone");
    EXPECT_EQ(sets[0]["name"], "Missed Call Count");
    EXPECT_EQ(sets[0]["data"], 2);
    EXPECT_EQ(sets[1]["key"], "HKCU\\System\\State\\Messages\\SMS\\Unread");  // where the platform documents it
    EXPECT_EQ(sets[1]["name"], "Count");
    EXPECT_EQ(sets[1]["data"], 3);
    // The virtual clock moved by exactly the waits.
    EXPECT_EQ(sets[2]["t"], 2000);
    EXPECT_EQ(sets[2]["key"], "HKLM\\System\\State\\Phone");
    EXPECT_EQ(sets[2]["name"], "Active Call Count");
    EXPECT_EQ(sets[3]["name"], "ActiveProfile");
    EXPECT_EQ(sets[3]["data"], "Silent");
    EXPECT_EQ(sets[4]["t"], 2000 + 41 * 3000);
    EXPECT_EQ(sets[4]["data"], "hello world");

    // `reg get` prints the form `reg set` takes, between the events.
    const auto lines = lines_of(r.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "sz:hello world"), lines.end()) << r.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "dword:2"), lines.end()) << r.out;
}


// A registry fault is the program's: the script's own state changes still go through,
// and the program's refused write is stored by its retry at the end, once the fault is off.
TEST_F(Headless, ARegistryFaultFailsTheProgramsWritesButNotTheScriptsOwn) {
    const auto r = script(
        "start\n"
        "fault registry write\n"
        "missed 2\n"
        "reg set HKCU\\Software\\Test A dword:1\n"
        "reg delete HKCU\\Software\\Test A\n" +
        qtest::Command(ID_MENU_ALERT) + qtest::Click(IDC_CALL_ALERT) + "press enter\n" + qtest::Command(IDOK) +
        "fault registry write off\n"
        "reg get HKCU\\System\\State\\Phone \"Missed Call Count\"\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto sets = of_kind(events_of(r.out), "reg.set");
    ASSERT_EQ(sets.size(), 3u) << r.out;
    EXPECT_EQ(sets[0]["name"], "Missed Call Count");
    EXPECT_EQ(sets[1]["key"], "HKCU\\Software\\Test");
    EXPECT_EQ(sets[2]["name"], "enableCallAlert");
    EXPECT_EQ(of_kind(events_of(r.out), "reg.delete").size(), 1u) << r.out;
    const auto lines = lines_of(r.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "dword:2"), lines.end()) << r.out;
}

TEST_F(Headless, CountsAddUpAndTheSpeedIsKeptThoughTheVirtualClockHasNone) {
    const auto r = script(
        "missed +1\nmissed +2\nreg set HKLM\\System\\State\\Messages\\SMS\\Unread Count sz:odd\nsms +1\n"
        "call 4294967295\ncall +1\nspeed 60\nspeed\n",
        {"--no-start"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Json> counts;
    for (const Json& set : of_kind(events_of(r.out), "reg.set"))
        if (set["type"] == "dword") counts.push_back(set["data"]);
    // A value that is no count counts as none; a full count stays full.
    EXPECT_EQ(counts, (std::vector<Json>{1, 3, 1, 4294967295u, 4294967295u})) << r.out;
    const auto lines = lines_of(r.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "60"), lines.end()) << r.out;
    EXPECT_NE((r.out + r.err).find("changes nothing"), std::string::npos) << r.out << r.err;
}

TEST_F(Headless, SameScriptGivesTheSameEventsEveryRun) {
    const std::string text = "missed 1\nwait 1h\nsms 2\nwait 500ms\nreg delete HKCU\\System\\State\\Phone \"Missed Call Count\"\n";
    const auto first = script(text, {"--reset"});
    const auto second = script(text, {"--reset"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, second.out);
    const auto deletes = of_kind(events_of(first.out), "reg.delete");
    ASSERT_EQ(deletes.size(), 1u) << first.out;
    EXPECT_EQ(deletes[0]["t"], 3'600'500);
}

TEST_F(Headless, MalformedScriptNamesEveryBadLineAndRunsNothing) {
    const auto r = script("missed 4\nwiat 3s\nwait 3\npress left\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("line 2: unknown command `wiat`"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 3:"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("line 1:"), std::string::npos) << r.err;
    EXPECT_TRUE(events_of(r.out).empty()) << r.out;

    // Line 1 did not run: the count is still the factory's.
    const auto check = script("reg get HKCU\\System\\State\\Phone \"Missed Call Count\"\n");
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("dword:0"), std::string::npos) << check.out;
}

TEST_F(Headless, FailedCommandIsReportedWithItsLineAndTheRestStillRuns) {
    const auto r = script("reg get HKCU\\Nowhere Value\nmissed 7\nquit\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 1: reg get"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 3: quit: Quillon does not run here"), std::string::npos) << r.err;
    const auto sets = of_kind(events_of(r.out), "reg.set");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]["data"], 7);
}

TEST_F(Headless, CommandsFromStdinAndEventsToALogFile) {
    const auto log = dir / "events.log";
    const auto r = run_quillon(phone({"--log", log.string()}),
                               "missed 3\nwait 3s\nreg get HKCU\\System\\State\\Phone \"Missed Call Count\"\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "dword:3\n");  // only the command's output on stdout
    const auto sets = of_kind(events_of(qtest::read_file(log)), "reg.set");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]["data"], 3);

    // A log the disk will not take ends the run's success, not the run.
    const auto full = run_quillon(phone({"--log", "/dev/full"}),
                                  "missed 3\nreg get HKCU\\System\\State\\Phone \"Missed Call Count\"\n");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "dword:3\n");
    EXPECT_EQ(full.err, "quillon: cannot write /dev/full: No space left on device; it ends with its last whole line\n");
}

TEST_F(Headless, MalformedStdinLineEndsTheRunWithItsNumber) {
    const auto r = run_quillon(phone({}), "missed 1\n\nsms x\nmissed 9\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("line 3: the count must be a whole number"), std::string::npos) << r.err;
    const auto sets = of_kind(events_of(r.out), "reg.set");
    ASSERT_EQ(sets.size(), 1u);  // `missed 9` after the bad line did not run
    EXPECT_EQ(sets[0]["data"], 1);
}

TEST_F(Headless, BadOptionsAndMissingScriptAreRefused) {
    auto r = run_quillon(phone({"--script", (dir / "missing.txt").string()}));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot read the script"), std::string::npos) << r.err;
    r = run_quillon(phone({"--clock", "sundial"}));
    EXPECT_EQ(r.status, 2);
    r = run_quillon({"--device", (dir / "device").string(), "--script", "x.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--script needs --headless"), std::string::npos) << r.err;

    // --reset wipes a device folder, never a folder of something else named by mistake.
    const std::filesystem::path papers = dir / "papers";
    std::filesystem::create_directories(papers);
    qtest::write_file(papers / "thesis.txt", "years of work");
    r = run_quillon({"--headless", "--reset", "--device", papers.string(), "--script", "/dev/null"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("will not reset"), std::string::npos) << r.err;
    EXPECT_EQ(qtest::read_file(papers / "thesis.txt"), "years of work");
}

TEST_F(Headless, RegCompanionPassesRegToolArgumentsThrough) {
    ASSERT_EQ(run_quillon({"--headless", "--no-start", "--device", (dir / "device").string(), "--script", "/dev/null"}).status, 0);
    auto r = run_quillon({"--device", (dir / "device").string(), "reg", "add", "HKCU\\Software\\Test", "/v", "Level",
                          "/t", "REG_DWORD", "/d", "5", "/f"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_quillon({"reg", "--device", (dir / "device").string(), "query", "HKCU\\Software\\Test", "/v", "Level"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Level"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0x5"), std::string::npos) << r.out;
}

}  // namespace
