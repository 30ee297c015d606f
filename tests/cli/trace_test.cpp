// The run as a trace: what a short scenario's trace shows, the rules of the trace event
// format on every trace made here, and lines of a log that cannot be read.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "common/script_lines.h"
#include "common/trace_rules.h"
#include "platform/cli/trace/trace_log.h"
#include "common/child_process.h"

using qtest::read_file;
using qtest::run_quillon;
using qtest::TempDir;
using qtest::write_file;
using cli::trace_from_log;
using Json = handset::Json;

namespace {

struct Slice {
    std::string track;
    std::string name;
    long long start_ms;
    long long dur_ms;
};

std::map<long long, std::string> TrackNames(const Json& trace) {
    std::map<long long, std::string> names;
    for (const Json& e : trace["traceEvents"])
        if (e["ph"] == "M" && e["name"] == "thread_name") names[e["tid"]] = e["args"]["name"];
    return names;
}

// The slices (and, with `instants`, the instants as slices of no length) of one track.
std::vector<Slice> SlicesOf(const Json& trace, const std::string& track, bool instants = false) {
    const auto names = TrackNames(trace);
    std::vector<Slice> out;
    for (const Json& e : trace["traceEvents"]) {
        if (!e.contains("tid") || names.at(e["tid"]) != track) continue;
        if (e["ph"] == "X")
            out.push_back({track, e["name"], e["ts"].get<long long>() / 1000, e["dur"].get<long long>() / 1000});
        else if (instants && e["ph"] == "i")
            out.push_back({track, e["name"], e["ts"].get<long long>() / 1000, 0});
    }
    return out;
}

void ExpectSlices(const Json& trace, const std::vector<Slice>& want, const std::string& context) {
    for (const Slice& w : want) {
        const auto have = SlicesOf(trace, w.track, true);
        const bool found = std::any_of(have.begin(), have.end(), [&](const Slice& h) {
            return h.name == w.name && h.start_ms == w.start_ms && h.dur_ms == w.dur_ms;
        });
        std::string seen;
        for (const Slice& h : have)
            seen += "  " + h.name + " @" + std::to_string(h.start_ms) + " +" + std::to_string(h.dur_ms) + "\n";
        EXPECT_TRUE(found) << context << ": no " << w.track << " slice " << w.name << " @" << w.start_ms << " +"
                           << w.dur_ms << "; the track has\n"
                           << seen;
    }
}

// Converts `log`, with what trace_from_log says about its lines.
Json Convert(const std::string& log, cli::LogTrace* lines = nullptr) {
    std::istringstream in(log);
    phone::TraceBuilder builder;
    const auto converted = trace_from_log(in, builder);
    if (lines) *lines = converted;
    std::ostringstream out;
    builder.write(out);
    return Json::parse(out.str());
}

TEST(Trace, AShortScenarioShowsItsRemindersStatesMailClientAndCounters) {
    TempDir dir;
    write_file(dir / "script",
               "press down\nmissed 2\nwait 130s\nprofile Silent\nwait 130s\n" + qtest::Command(ID_MENU_3GSVC) +
                   qtest::Click(IDC_BLOCK_3GSVC) + qtest::Command(IDOK) +
                   "mail start\nwait 2t\nmail close\nwait 2t\ncall 1\nwait 1s\ncall 0\nquit\n");
    const auto run = run_quillon({"--device", dir.file("device"), "--headless", "--script", dir.file("script"), "--log",
                                  dir.file("events.jsonl"), "--trace", dir.file("run.json")});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json trace = Json::parse(read_file(dir / "run.json"));
    EXPECT_EQ(qtest::trace_rule_broken(trace), "") << "scenario";

    ExpectSlices(trace,
                 {{"Program", "QUILLON", 0, 273050},
                  {"Program", "3G 연결 설정", 260000, 50},
                  {"Program: watch", "reminder: vibration", 249000, 1300},
                  {"Sound", "missedCall.wav", 126000, 2078},
                  {"Vibration", "vibration", 249800, 500},
                  {"Keys", "down", 0, 0},
                  // The backlight goes out after 30 s, the screen 30 s later; the lock
                  // comes 3 minutes after that.
                  {"Keys", "key lock", 240000, 0},
                  {"Phone: power", "power backlightoff", 30000, 30000},
                  {"Phone: power", "power useridle", 60000, 180000},
                  {"Phone: keypad", "keypad unlocked", 0, 240000},
                  {"Phone: keypad", "keypad locked", 240000, 33050},
                  {"Phone: 3G", "3G allowed", 0, 260050},
                  {"Phone: 3G", "3G blocked", 260050, 950},
                  {"Phone: 3G", "3G allowed", 261000, 8050},
                  {"Mail client", "e mail.exe", 260050, 950},
                  {"Mail client", "e mail.exe", 261500, 4550}},
                 "scenario");
    // The reminder spans its two sounds, the second of which says the count.
    const auto sounds = SlicesOf(trace, "Sound");
    ASSERT_GE(sounds.size(), 2u);
    ExpectSlices(trace,
                 {{"Program: watch", "reminder: missed calls", 126000, sounds[1].start_ms + sounds[1].dur_ms - 126000}},
                 "scenario");
    EXPECT_EQ(sounds[1].name, "alert2.wav");
    // The watch timer ran from 0 to 261000 and from 266050 to 272050 (killed by the quit).
    const auto watch = SlicesOf(trace, "Program: watch", true);
    EXPECT_EQ(std::count_if(watch.begin(), watch.end(), [](const Slice& s) { return s.name == "watch tick"; }), 87 + 2);

    std::vector<std::string> counters;
    for (const Json& e : trace["traceEvents"])
        if (e["ph"] == "C")
            counters.push_back(e["name"].get<std::string>() + "@" + std::to_string(e["ts"].get<long long>() / 1000) +
                               "=" + e["args"]["count"].dump());
    EXPECT_EQ(counters,
              (std::vector<std::string>{"Missed calls@0=2", "Active calls@272050=1", "Active calls@273050=0"}));

    // Converting the log afterwards gives the trace the run wrote.
    const auto later = run_quillon({"trace", dir.file("events.jsonl"), "-o", dir.file("later.json")});
    ASSERT_EQ(later.status, 0) << later.err;
    EXPECT_EQ(read_file(dir / "later.json"), read_file(dir / "run.json"));
}

TEST(Trace, EdgesOfTheLogGiveSlicesThatNest) {
    struct Case {
        const char* what;
        std::string log;
        std::vector<Slice> want;
    };
    const Case cases[] = {
        {"a sound stopped by the next",
         R"({"t":0,"ev":"sound","file":"\\a.wav","mode":"async","ms":2000,"missing":false}
{"t":500,"ev":"sound","file":"\\b.wav","mode":"async","ms":300,"missing":true}
)",
         {{"Sound", "a.wav", 0, 500}, {"Sound", "b.wav", 500, 300}}},
        {"a reminder outlasting its dialogs and the program",
         R"({"t":0,"ev":"process.start","file":"\\Program Files\\Quillon\\Quillon.exe"}
{"t":0,"ev":"dialog.open","id":102,"title":"QUILLON"}
{"t":0,"ev":"timer.set","id":100,"ms":3000}
{"t":3000,"ev":"sound","file":"\\P\\Sound\\unreadSms.wav","mode":"sync","ms":2000,"missing":false}
{"t":5150,"ev":"sound","file":"\\P\\Sound\\alertOver.wav","mode":"async","ms":900,"missing":false}
{"t":5200,"ev":"dialog.open","id":135,"title":"X"}
{"t":5300,"ev":"timer.kill","id":100}
{"t":5300,"ev":"dialog.close","id":102,"title":"QUILLON","result":-1}
{"t":5300,"ev":"process.exit","file":"\\Program Files\\Quillon\\Quillon.exe","code":0}
{"t":6000,"ev":"power","state":"on","mask":1}
)",
         {{"Program: watch", "reminder: unread SMS", 3000, 3050},
          {"Program: watch", "watch tick", 3000, 0},
          {"Program", "QUILLON", 0, 5300},
          {"Program", "X", 5200, 100}}},
        {"vibrations logged as they stop, in and out of a call",
         R"({"t":0,"ev":"reg.set","key":"HKLM\\System\\State\\Phone","name":"Active Call Count","type":"dword","data":0}
{"t":3100,"ev":"power","state":"useridle","mask":1}
{"t":3000,"ev":"vibrate","ms":300}
{"t":3400,"ev":"vibrate","ms":300}
{"t":3800,"ev":"vibrate","ms":500}
{"t":5000,"ev":"vibrate","ms":100}
{"t":5500,"ev":"reg.set","key":"HKLM\\System\\State\\Phone","name":"Active Call Count","type":"dword","data":1}
{"t":6000,"ev":"vibrate","ms":100}
{"t":7000,"ev":"vibrate","ms":50}
)",
         {{"Program: watch", "reminder: vibration", 3000, 1300},
          {"Program: watch", "reminder: during a call", 6000, 100},
          {"Phone: power", "power on", 0, 3100},
          {"Vibration", "vibration", 3000, 300}}},
        {"the battery from its first power-information broadcast on",
         R"({"t":0,"ev":"power","state":"on","mask":1}
{"t":1000,"ev":"power","state":"on","mask":8,"battery":80,"charger":false,"charging":false}
{"t":2000,"ev":"power","state":"on","mask":8,"battery":80,"charger":true,"charging":true}
{"t":92000,"ev":"power","state":"on","mask":8,"battery":81,"charger":true,"charging":true}
{"t":95000,"ev":"power","state":"useridle","mask":1}
)",
         {{"Phone: battery", "battery 80%", 1000, 1000},
          {"Phone: battery", "battery 80%, charging", 2000, 90000},
          {"Phone: battery", "battery 81%, charging", 92000, 3000},
          {"Phone: power", "power on", 0, 95000}}},
        {"ends without their starts, and a second mail client",
         R"({"t":100,"ev":"process.exit","file":"\\Windows\\e mail.exe","code":0}
{"t":200,"ev":"dialog.close","id":5,"title":"Y","result":1}
{"t":300,"ev":"process.start","file":"\\Windows\\e mail.exe"}
{"t":400,"ev":"process.start","file":"\\Windows\\e mail.exe"}
{"t":400,"ev":"process.exit","file":"\\Windows\\e mail.exe","code":0}
{"t":900,"ev":"process.exit","file":"\\Windows\\e mail.exe","code":0}
)",
         {{"Mail client", "e mail.exe", 100, 0},
          {"Mail client", "e mail.exe", 300, 600},
          {"Mail client", "e mail.exe", 400, 0},
          {"Program", "Y", 100, 100}}},
        {"ends logged with a time before their starts",
         R"({"t":400,"ev":"process.start","file":"\\Windows\\e mail.exe"}
{"t":300,"ev":"dialog.open","id":5,"title":"Y"}
{"t":200,"ev":"process.exit","file":"\\Windows\\e mail.exe","code":0}
{"t":250,"ev":"dialog.close","id":5,"title":"Y","result":1}
)",
         {{"Mail client", "e mail.exe", 400, 0}, {"Program", "Y", 300, 0}}},
        {"a watch timer set again with a time before its last schedule ended",
         R"({"t":1,"ev":"timer.set","id":100,"ms":3000}
{"t":5300,"ev":"timer.kill","id":100}
{"t":0,"ev":"timer.set","id":100,"ms":3000}
{"t":9000,"ev":"power","state":"on","mask":1}
)",
         {{"Program: watch", "watch tick", 3001, 0}, {"Program: watch", "watch tick", 8300, 0}}},
        {"two-form states before their first change",
         R"({"t":0,"ev":"reg.set","key":"HKCU\\Software\\Quillon","name":"X","type":"dword","data":1}
{"t":1000,"ev":"reg.set","key":"HKCU\\Comm\\RasBook\\KTF IE GPRS","name":"DevCfg","type":"hex","data":"01"}
{"t":1000,"ev":"reg.set","key":"HKCU\\Comm\\RasBook\\KTF IE GPRS","name":"Entry","type":"hex","data":"02"}
{"t":1000,"ev":"reg.delete","key":"HKCU\\Comm\\RasBook\\KTF IE GPRS","name":"NoDevCfg"}
{"t":1000,"ev":"reg.delete","key":"HKCU\\Comm\\RasBook\\KTF IE GPRS","name":"NoEntry"}
{"t":2000,"ev":"reg.delete","key":"HKCU\\Comm\\RasBook"}
{"t":3000,"ev":"keypad","locked":false}
)",
         {{"Phone: 3G", "3G blocked", 0, 1000},
          {"Phone: 3G", "3G allowed", 1000, 1000},
          {"Phone: 3G", "no 3G entry", 2000, 1000},
          {"Phone: keypad", "keypad locked", 0, 3000}}},
    };
    for (const Case& c : cases) {
        const Json trace = Convert(c.log);
        EXPECT_EQ(qtest::trace_rule_broken(trace), "") << c.what;
        ExpectSlices(trace, c.want, c.what);
    }
}

// A watch that would tick without end (a timer of 1 ms, a time far off) is drawn for a
// week of the program's 3-second watch, and the trace says where its ticks stop.
TEST(Trace, AWeekOfWatchTicksAtMost) {
    std::istringstream in(R"({"t":0,"ev":"timer.set","id":100,"ms":1}
{"t":100000000,"ev":"power","state":"on","mask":1}
)");
    phone::TraceBuilder builder;
    trace_from_log(in, builder);
    std::ostringstream out;
    builder.write(out);
    const std::string trace = out.str();
    std::size_t ticks = 0;
    for (std::size_t at = 0; (at = trace.find("\"watch tick\"", at)) != std::string::npos; ++at) ++ticks;
    EXPECT_EQ(ticks, 7u * 24 * 3600 / 3);
    const std::size_t stop = trace.find("watch ticks not drawn from here on");
    ASSERT_NE(stop, std::string::npos);
    EXPECT_NE(trace.find("\"ts\":201601000", stop), std::string::npos);
}

TEST(Trace, UnreadableLinesAreNamedAndTheRestConverts) {
    const std::string locked = R"({"t":0,"ev":"keypad","locked":true})";
    const std::string unlocked = R"({"t":100,"ev":"keypad","locked":false})";
    struct Case {
        std::string log;
        std::vector<long> bad_lines;
        std::string first_problem;  // a part of the first bad line's message
        long cut_line;              // 0: none
    };
    const Case cases[] = {
        {locked + "\n{\"t\":1,\n" + unlocked + "\n", {2}, "not JSON", 0},
        {locked + "\n[1,2]\n" + R"({"t":5,"ev":"sound","file":"x","mode":"sync","missing":false})" + "\n" + unlocked +
             "\n",
         {2, 3},
         "not a JSON object",
         0},
        {locked + "\n{\"t\":\"soon\",\"ev\":\"key\"}\n\n" + unlocked + "\n", {2}, "`t` is not a whole number", 0},
        {locked + "\n\n" + unlocked + "\n{\"t\":900,\"ev\":\"ke", {}, "", 4},
        {locked + "\n" + unlocked + "\n{\"t\":900,\"ev\":\"ke\n", {3}, "not JSON", 0},
        {locked + "\n{\"t\":-5,\"ev\":\"key\"}\n" + unlocked + "\n", {2}, "`t` is negative", 0},
        {locked + "\n" + R"({"t":5,"ev":"sound","file":"x","mode":"sync","ms":1000000000000000000,"missing":false})" +
             "\n" + unlocked + "\n",
         {2},
         "`ms` is longer than any run",
         0},
    };
    for (const Case& c : cases) {
        cli::LogTrace converted;
        const Json trace = Convert(c.log, &converted);
        std::vector<long> bad;
        for (const auto& p : converted.bad_lines) bad.push_back(p.line);
        EXPECT_EQ(bad, c.bad_lines) << c.log;
        if (!c.bad_lines.empty()) {
            EXPECT_NE(converted.bad_lines[0].message.find(c.first_problem), std::string::npos)
                << converted.bad_lines[0].message;
        }
        EXPECT_EQ(converted.cut_last_line ? converted.cut_last_line->line : 0, c.cut_line) << c.log;
        // The readable lines convert; a bad one leaves nothing behind.
        EXPECT_EQ(converted.events, 2) << c.log;
        ExpectSlices(trace, {{"Phone: keypad", "keypad locked", 0, 100}}, c.log);
        EXPECT_TRUE(SlicesOf(trace, "Sound").empty()) << c.log;
    }

    // The command names the line, still writes the trace and says by its status that
    // lines were lost; a cut last line alone is no failure.
    TempDir dir;
    write_file(dir / "bad.jsonl", cases[0].log);
    auto r = run_quillon({"trace", dir.file("bad.jsonl"), "-o", dir.file("bad.json")});
    EXPECT_EQ(r.status, phone::kExitSomeLinesBad);
    EXPECT_NE(r.err.find("bad.jsonl line 2: not JSON"), std::string::npos) << r.err;
    EXPECT_FALSE(SlicesOf(Json::parse(read_file(dir / "bad.json")), "Phone: keypad").empty());
    write_file(dir / "cut.jsonl", cases[3].log);
    r = run_quillon({"trace", dir.file("cut.jsonl"), "-o", dir.file("cut.json")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cut.jsonl line 4: the last line is cut short"), std::string::npos) << r.err;
    // A headless run's output holds what its commands printed between the events: the
    // screen's text and the controls' JSON are skipped and counted, and are no failure.
    write_file(dir / "script", "missed 1\nwait 5s\ncontrols\nscreen\nreg get HKCU\\System\\State\\Phone \"Missed Call Count\"\nquit\n");
    const auto run = run_quillon({"--headless", "--device", dir.file("device"), "--script", dir.file("script")});
    ASSERT_EQ(run.status, 0) << run.err;
    write_file(dir / "run.out", run.out);
    r = run_quillon({"trace", dir.file("run.out"), "-o", dir.file("run.json")});
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(run.out);
    int output_lines = 0;
    for (std::string line; std::getline(lines, line);)
        if (!line.starts_with("{\"t\":") && line.find_first_not_of(' ') != std::string::npos) ++output_lines;
    EXPECT_GT(output_lines, 2);
    EXPECT_NE(r.err.find("skipped " + std::to_string(output_lines) + " line(s) of command output"), std::string::npos)
        << r.err;
    r = run_quillon({"trace", dir.file("missing.jsonl"), "-o", dir.file("x.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
}

}  // namespace
