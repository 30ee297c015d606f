// The monkey without processes: its invariant checks over small hand-made runs, its
// shrinker on a synthetic failure, and its plans as the phone would read them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "common/child_process.h"
#include "platform/phone/commands.h"
#include "platform/cli/monkey/monkey.h"
#include "platform/cli/monkey/monkey_plan.h"
#include "platform/cli/monkey/monkey_checks.h"

using namespace handset;
using namespace phone;
using namespace cli;
using namespace cli::monkey;

namespace {

constexpr int kMainDialog = 102;

// Event lines as the phone writes them.
std::string counter(const char* which, long long value) {
    static const std::map<std::string, std::string> where{
        {"missed", R"("key":"HKCU\\System\\State\\Phone","name":"Missed Call Count")"},
        {"sms", R"("key":"HKLM\\System\\State\\Messages\\SMS\\Unread","name":"Count")"},
        {"call", R"("key":"HKLM\\System\\State\\Phone","name":"Active Call Count")"}};
    return R"({"t":1,"ev":"reg.set",)" + where.at(which) + R"(,"type":"dword","data":)" + std::to_string(value) + "}";
}
std::string sound(const std::string& name, bool missing = false) {
    return R"({"t":2,"ev":"sound","file":"\\Program Files\\Quillon\\Sound\\)" + name +
           R"(","mode":"sync","ms":500,"missing":)" + (missing ? "true" : "false") + "}";
}
std::string key(int vk, bool up, bool silent, const char* source) {
    return R"({"t":3,"ev":"key","vk":)" + std::to_string(vk) + R"(,"up":)" + (up ? "true" : "false") +
           R"(,"silent":)" + (silent ? "true" : "false") + R"(,"source":")" + source + "\"}";
}
std::string main_dialog(bool open) {
    return open ? R"({"t":4,"ev":"dialog.open","id":102,"title":"QUILLON"})"
                : R"({"t":4,"ev":"dialog.close","id":102,"title":"QUILLON","result":-1})";
}

// The user unticks "부재중전화 알림" (control 1013 of the alert dialog, 138).
std::string untick_call_alert() {
    return R"({"t":5,"ev":"control.change","dialog":138,"id":1013,"checked":false})";
}
std::string call_alert_written(int value) {
    return R"({"t":5,"ev":"reg.set","key":"HKCU\\Software\\Quillon","name":"enableCallAlert","type":"dword","data":)" +
           std::to_string(value) + "}";
}
std::string call_alert_refused() {
    return R"({"t":5,"ev":"debug","text":"WriteRegDword(enableCallAlert, 0) failed: 112\n"})";
}
std::string storage_full(bool on) {
    return R"({"t":5,"ev":"fault","point":"storage full","on":)" + std::string(on ? "true" : "false") + "}";
}

RegValue binary(std::u16string name, Bytes data) { return {std::move(name), REG_BINARY, std::move(data)}; }

RegTree phone_book(std::vector<RegValue> values) {
    return {u"Comm\\RasBook", {}, {{u"Comm\\RasBook\\SKT IE GPRS", std::move(values), {}}}};
}

// A run that keeps every promise: a reminder and its count while something is pending,
// the key lock outside a call, a quit and a new start, the entry blocked.
RunRecord clean_run() {
    RunRecord run;
    run.program_folder = u"\\Program Files\\Quillon";
    run.main_dialog = kMainDialog;
    run.factory_book = phone_book({binary(u"DevCfg", {1, 2, 3}), binary(u"Entry", {4, 5})});
    run.book = phone_book({binary(u"NoDevCfg", {1, 2, 3}), binary(u"NoEntry", {4, 5})});
    run.log = {main_dialog(true),
               key(27, false, false, "user"),
               counter("missed", 2),
               counter("sms", 1),
               sound("missedCallSms.wav"),
               sound("alert3.wav"),
               counter("call", 1),
               counter("sms", 0),
               counter("call", 0),
               sound("missedCall.wav"),
               sound("alert2.wav"),
               key(133, false, true, "inject"),
               key(133, true, true, "inject"),
               sound("enable3Gsvc.wav"),
               main_dialog(false),
               main_dialog(true),
               ""};
    return run;
}

TEST(MonkeyChecks, EachInvariantIsReadFromTheRun) {
    struct Case {
        const char* what;
        std::function<void(RunRecord&)> spoil;
        std::vector<std::string> broken;
    };
    const std::vector<Case> cases{
        {"a clean run", [](RunRecord&) {}, {}},
        {"the watchdog ended it", [](RunRecord& r) { r.end.hung = true; }, {kRunEnded}},
        {"a refused command is ordinary, a sanitizer report is not",
         [](RunRecord& r) {
             r.end.exit_code = 1;
             r.end.diagnostics = "quillon: line 3: click: no control 1004\n==7==ERROR: AddressSanitizer: x\n";
         },
         {kRunEnded}},
        {"killed by a signal", [](RunRecord& r) { r.end.signal = 6; }, {kRunEnded}},
        {"an entry value under both names",
         [](RunRecord& r) { r.book.subkeys[0].values.push_back(binary(u"DevCfg", {1, 2, 3})); },
         {kPhoneBook}},
        {"an entry value with other bytes",
         [](RunRecord& r) { r.book.subkeys[0].values[1] = binary(u"Entry", {4, 6}); },
         {kPhoneBook}},
        {"the key lock during a call",
         [](RunRecord& r) { r.log.insert(r.log.begin() + 11, counter("call", 1)); },
         {kNoLockInCall}},
        {"a reminder with nothing pending",
         [](RunRecord& r) { r.log.insert(r.log.begin() + 9, counter("missed", 0)); },
         {kReminderPending, kReminderPending}},  // the reminder's sound, and its count's
        {"a reminder during a call",
         [](RunRecord& r) {
             r.log.erase(r.log.begin() + 8);  // the call ends only after the reminder
             r.log.insert(r.log.begin() + 10, counter("call", 0));
         },
         {kReminderPending}},
        {"a count sound for another count",
         [](RunRecord& r) { r.log[5] = sound("alert2.wav"); },
         {kReminderPending}},
        {"a second main window", [](RunRecord& r) { r.log.erase(r.log.begin() + 14); }, {kOneMainWindow}},
        {"an injected key that clicks", [](RunRecord& r) { r.log[12] = key(133, true, false, "inject"); },
         {kSilentInjection}},
        {"a setting shown changed and stored at once",
         [](RunRecord& r) { r.log.insert(r.log.begin() + 1, {untick_call_alert(), call_alert_written(0)}); },
         {}},
        {"a setting shown changed and refused while the storage was full",
         [](RunRecord& r) {
             r.log.insert(r.log.begin() + 1,
                          {storage_full(true), untick_call_alert(), call_alert_refused(), storage_full(false)});
         },
         {}},
        {"a refused setting stored by a retry later",
         [](RunRecord& r) {
             r.log.insert(r.log.begin() + 1, {untick_call_alert(), call_alert_refused(), call_alert_written(0)});
         },
         {}},
        {"a setting shown changed and silently lost",
         [](RunRecord& r) { r.log.insert(r.log.begin() + 1, untick_call_alert()); },
         {kSettingStored}},
        {"a setting refused with no storage fault on",
         [](RunRecord& r) { r.log.insert(r.log.begin() + 1, {untick_call_alert(), call_alert_refused()}); },
         {kSettingStored}},
        {"a missing program sound", [](RunRecord& r) { r.log[13] = sound("enable3Gsvc.wav", true); },
         {kSoundExists}},
        // The sum of two pending counts that wraps names a file the phone lacks.
        {"a count that overflows",
         [](RunRecord& r) {
             r.log[2] = counter("missed", 2147483647);
             r.log[5] = sound("alert-2147483648.wav", true);
             r.log[10] = sound("alertOver.wav");
         },
         {kSoundExists, kReminderPending}},
    };
    for (const auto& c : cases) {
        RunRecord run = clean_run();
        c.spoil(run);
        std::vector<std::string> broken;
        std::string details;
        for (const auto& v : check_run(run)) {
            broken.push_back(v.invariant);
            details += v.detail + "\n";
        }
        EXPECT_EQ(broken, c.broken) << c.what << ":\n" << details;
    }
}

TEST(MonkeyShrink, FindsTheFewItemsAFailureNeedsWithinItsBudget) {
    std::vector<std::string> items;
    for (int i = 0; i < 100; ++i) items.push_back(std::to_string(i));
    const auto needs = [](const std::vector<std::string>& c, std::initializer_list<const char*> wanted) {
        for (const char* w : wanted)
            if (std::find(c.begin(), c.end(), w) == c.end()) return false;
        return true;
    };
    int calls = 0;
    const auto fails = [&](const std::vector<std::string>& c) -> std::optional<bool> {
        ++calls;
        return needs(c, {"13", "42", "77"});
    };
    EXPECT_EQ(shrink(items, fails, 500), (std::vector<std::string>{"13", "42", "77"}));
    EXPECT_LE(calls, 500);

    // A spent budget stops at once with what has been found so far: still failing.
    calls = 0;
    const auto spent_after_ten = [&](const std::vector<std::string>& c) -> std::optional<bool> {
        if (++calls > 10) return std::nullopt;
        return needs(c, {"13", "42", "77"});
    };
    const auto partial = shrink(items, spent_after_ten, 500);
    EXPECT_EQ(calls, 11);
    EXPECT_TRUE(needs(partial, {"13", "42", "77"}));
    EXPECT_LT(partial.size(), items.size());
}

TEST(MonkeyPlan, EverySeedGivesItsOwnScriptThatThePhoneReads) {
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        const Plan plan = plan_run(seed, 80);
        ASSERT_EQ(plan.actions.size(), 80u);
        std::string text;
        for (const auto& a : plan.actions) text += a + "\n";
        const Script script = parse_script(text);
        ASSERT_TRUE(script.errors.empty()) << "seed " << seed << ": " << script.errors[0].describe();
        EXPECT_EQ(plan_run(seed, 80).actions, plan.actions) << "seed " << seed;
    }
    EXPECT_NE(plan_run(1, 80).actions, plan_run(2, 80).actions);
}

}  // namespace

namespace {

// Runs that all pass leave the --keep folder as they found it: no seed's files, no
// factory registry and none of its lock files.
TEST(MonkeyKeep, PassingRunsLeaveNothingBehind) {
    qtest::TempDir dir;
    const auto keep = dir / "keep";
    const qtest::Result r =
        qtest::run_quillon({"monkey", "--seed", "1", "--runs", "2", "--actions", "8", "--keep", keep.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(keep)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{});
}

// A run the monkey cannot set up (here a file where a seed's folder goes) ends the
// monkey with its reason, whichever of the workers met it.
TEST(MonkeyKeep, AFolderThatCannotBeMadeEndsTheMonkeyWithItsReason) {
    for (const char* seed : {"1", "2"}) {
        qtest::TempDir dir;
        const auto keep = dir / "keep";
        std::filesystem::create_directories(keep);
        qtest::write_file(keep / (std::string("seed-") + seed), "");
        const qtest::Result r = qtest::run_quillon(
            {"monkey", "--seed", "1", "--runs", "4", "--jobs", "2", "--actions", "8", "--keep", keep.string()});
        EXPECT_EQ(r.status, 1) << seed;
        EXPECT_NE(r.err.find("quillon monkey: "), std::string::npos) << seed << ": " << r.err;
        EXPECT_EQ(r.err.find("terminate"), std::string::npos) << seed << ": " << r.err;
    }
}

}  // namespace
