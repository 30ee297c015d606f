// Crash safety of the settings: a phone whose user keeps changing the alert settings is
// killed (SIGKILL) at random moments, again and again on one device. After every kill
// the registry file must open, pass SQLite's integrity check and hold every write the
// phone acknowledged (its "reg.set" event): what is stored is the state after some
// prefix of the writes the script asked for, no shorter than the acknowledged ones.
//
// QUILLON_CRASH_KILLS sets the number of kills (default 200; under ctest the build's
// QUILLON_CRASH_KILLS, tests/CMakeLists.txt);
// QUILLON_CRASH_SEED repeats a run's random choices.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <map>
#include <optional>
#include <random>

#include "common/child_process.h"
#include "common/script_lines.h"
#include "platform/handset/core/json.h"
#include "platform/handset/registry/store.h"

namespace reltest {
namespace {

using namespace qtest;

constexpr std::array<const char*, 4> kNames = {"enableCallAlert", "enableSmsAlert", "AlertInterval",
                                                "EnableVibrateAlert"};
constexpr std::array<long, 4> kWhenMissing = {1, 1, 1, 1};

// The four settings of the alert dialog: a value, or nothing when not stored.
using Settings = std::array<std::optional<long>, 4>;

struct Write {
    int setting;  // index into kNames
    long value;
};

// A script of user actions in the alert dialog and the writes it makes, in order.
struct Plan {
    std::string script;
    std::vector<Write> writes;
};

// Random clicks and selections that never touch a disabled control: the interval list
// and the vibration box are disabled while both alert boxes are unticked.
Plan make_plan(const Settings& stored, std::mt19937& rng, int actions) {
    std::array<long, 4> shown{};
    for (int i = 0; i < 4; ++i) shown[i] = stored[i].value_or(kWhenMissing[i]);
    Plan plan;
    plan.script = Command(ID_MENU_ALERT);
    std::uniform_int_distribution<int> pick(0, 3);
    for (int n = 0; n < actions; ++n) {
        int which = pick(rng);
        const bool enabled = shown[0] != 0 || shown[1] != 0;
        if (which >= 2 && !enabled) which = 0;
        switch (which) {
            case 0: plan.script += Click(IDC_CALL_ALERT); break;
            case 1: plan.script += Click(IDC_SMS_ALERT); break;
            case 2: break;
            case 3: plan.script += Click(IDC_ALERT_VIBRATE); break;
        }
        if (which == 2) {
            // Another entry than the selected one, so that the selection changes.
            long next = (shown[2] + 1 + rng() % 2) % 3;
            if (shown[2] < 0 || shown[2] > 2) next = static_cast<long>(rng() % 3);
            plan.script += Select(IDC_ALERT_INTERVAL, static_cast<int>(next));
            shown[2] = next;
        } else {
            shown[which] = shown[which] != 0 ? 0 : 1;
        }
        plan.writes.push_back({which, shown[which]});
    }
    return plan;
}

Settings apply(Settings state, const std::vector<Write>& writes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) state[writes[i].setting] = writes[i].value;
    return state;
}

std::string describe(const Settings& s) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += std::string(kNames[i]) + "=" + (s[i] ? std::to_string(*s[i]) : std::string("-")) + " ";
    return out;
}

// SQLite's own verdict on the file, through its C API and nothing of ours.
std::string integrity_of(const fs::path& db_file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(db_file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return why;
    }
    sqlite3_stmt* stmt = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            if (!result.empty()) result += "; ";
            result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
    } else {
        result = sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

// The settings as the registry holds them; a value that is not a 4-byte DWORD fails the
// test (the program writes nothing else there).
Settings stored_settings(const fs::path& db_file) {
    handset::RegistryStore store(db_file.string());
    Settings out;
    for (int i = 0; i < 4; ++i) {
        handset::RegValue value;
        const auto st = store.get_value({handset::RegRoot::CurrentUser, u"Software\\Quillon"},
                                        handset::to_utf16(kNames[i]), value);
        if (st == handset::RegStatus::NotFound) continue;
        EXPECT_EQ(st, handset::RegStatus::Ok) << kNames[i];
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << kNames[i];
        EXPECT_EQ(value.data.size(), 4u) << kNames[i];
        if (value.data.size() != 4) continue;
        std::int32_t v = 0;
        std::memcpy(&v, value.data.data(), 4);
        out[i] = v;
    }
    return out;
}

int kill_count() {
    const char* text = std::getenv("QUILLON_CRASH_KILLS");
    return text && *text ? std::max(1, std::atoi(text)) : 200;
}

unsigned seed() {
    const char* text = std::getenv("QUILLON_CRASH_SEED");
    return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
}

TEST(CrashSafety, KilledWhileWritingSettingsLosesNoAcknowledgedWrite) {
    const unsigned run_seed = seed();
    SCOPED_TRACE("QUILLON_CRASH_SEED=" + std::to_string(run_seed));
    std::mt19937 rng(run_seed);
    TempDir dir;
    const fs::path device = dir / "device";
    const fs::path db = device / "registry.db";
    ASSERT_EQ(run_quillon({"--headless", "--device", device.string(), "--no-start", "--script", "/dev/null"}).status, 0);

    Settings state;  // nothing under Software\Quillon on a new device
    int acknowledged_total = 0, killed_while_writing = 0, committed_unacknowledged = 0;
    const int kills = kill_count();
    for (int round = 0; round < kills; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round + 1) + " of " + std::to_string(kills));
        const Plan plan = make_plan(state, rng, 300);
        const fs::path script = dir / "script.txt";
        write_file(script, plan.script);

        Child phone({"--headless", "--device", device.string(), "--script", script.string()});
        ASSERT_TRUE(phone.started());
        // Kill after a random number of acknowledged writes (none: during start-up), then
        // a random fraction of a write's time more.
        const std::size_t wanted = std::uniform_int_distribution<std::size_t>(0, 40)(rng);
        const auto extra = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 1500)(rng));
        std::size_t acks = 0;
        bool ran_out = false;
        auto read_event = [&](Clock::time_point deadline) {
            const auto line = phone.next_line(deadline);
            if (!line) return false;
            const Json event = Json::parse(*line, nullptr, false);
            if (event.is_object() && event.value("ev", "") == "reg.set" &&
                event.value("key", "") == "HKCU\\Software\\Quillon") {
                if (acks >= plan.writes.size()) {
                    ADD_FAILURE() << "more writes than the script made";
                    return false;
                }
                const Write& expected = plan.writes[acks];
                EXPECT_EQ(event.value("name", ""), kNames[expected.setting]) << "write " << acks;
                EXPECT_EQ(event.value("data", -1L), expected.value) << "write " << acks;
                ++acks;
            }
            return true;
        };
        while (acks < wanted && !ran_out) {
            if (!read_event(Clock::now() + kStuckLimit)) ran_out = true;
        }
        ASSERT_FALSE(ran_out) << "the phone stopped before its writes were done: " << phone.err();
        const auto kill_at = Clock::now() + extra;
        while (Clock::now() < kill_at && read_event(kill_at)) {
        }
        phone.kill();
        phone.drain();  // events written before the kill still count as acknowledged
        while (read_event(Clock::now())) {
        }
        if (HasFatalFailure()) return;

        ASSERT_EQ(integrity_of(db), "ok");
        const Settings now = stored_settings(db);
        // Some prefix of the planned writes, at least as long as the acknowledged ones.
        bool consistent = false;
        std::size_t prefix = acks;
        for (; prefix <= plan.writes.size() && !consistent; ++prefix)
            consistent = apply(state, plan.writes, prefix) == now;
        // A write committed in the instant before its event was written counts as done.
        if (consistent && prefix - 1 > acks && apply(state, plan.writes, acks) != now) ++committed_unacknowledged;
        ASSERT_TRUE(consistent) << "after " << acks << " acknowledged writes the registry holds " << describe(now)
                                << "; acknowledged state " << describe(apply(state, plan.writes, acks));
        acknowledged_total += static_cast<int>(acks);
        if (acks > 0) ++killed_while_writing;
        state = now;
    }
    // The random kills did land among the writes, not only at start-up.
    EXPECT_GE(killed_while_writing, kills / 2);
    RecordProperty("acknowledged_writes", acknowledged_total);
    RecordProperty("killed_while_writing", killed_while_writing);
    RecordProperty("committed_unacknowledged", committed_unacknowledged);

    // The phone still starts on the device, and its status line follows the stored flags.
    const fs::path script = dir / "final.txt";
    write_file(script, "controls\n");
    const Result last = run_quillon({"--headless", "--device", device.string(), "--script", script.string()});
    ASSERT_EQ(last.status, 0) << last.err;
    const auto objects = json_lines(last.out);
    const bool alerts_on = state[0].value_or(1) != 0 || state[1].value_or(1) != 0;
    bool found = false;
    for (const Json& o : objects) {
        if (!o.contains("controls")) continue;
        for (const Json& c : o["controls"])
            if (c.value("id", 0) == IDC_ALERT_STATUS) {
                found = true;
                EXPECT_EQ(c.value("text", ""), alerts_on ? "부재중수신 알림: 사용" : "부재중수신 알림: 사용안함");
            }
    }
    EXPECT_TRUE(found) << last.out;
}

}  // namespace
}  // namespace reltest
