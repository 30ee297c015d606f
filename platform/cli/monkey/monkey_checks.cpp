// The monkey's invariants over one run's record (see monkey_checks.h).
//
// The log is read as the program acts: the phone's counters are the last values the
// log shows written ("reg.set"/"reg.delete"; a device starts with all of them at 0),
// read the way the program reads them (a count is pending when it is above 0 as a
// signed 32-bit number, a call is in progress when its count is not 0).
#include "platform/cli/monkey/monkey_checks.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "platform/cli/log/log_lines.h"
#include "platform/handset/core/json.h"
#include "platform/handset/registry/state_values.h"
#include "res/program_facts.h"
#include "res/resources.h"

using namespace handset;

namespace cli::monkey {
namespace {

// Names compare as the registry compares them: case-folded.
bool same_name(std::string_view a, std::string_view b) { return fold_name(to_utf16(a)) == fold_name(to_utf16(b)); }

bool starts_with_name(std::string_view text, std::string_view prefix) {
    return fold_name(to_utf16(text)).starts_with(fold_name(to_utf16(prefix)));
}

std::string text_field(const Json& event, const char* name) {
    const auto it = event.find(name);
    return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flag_field(const Json& event, const char* name) {
    const auto it = event.find(name);
    return it != event.end() && it->is_boolean() && it->get<bool>();
}

long long number_field(const Json& event, const char* name, long long otherwise = -1) {
    const auto it = event.find(name);
    return it != event.end() && it->is_number_integer() ? it->get<long long>() : otherwise;
}

// The phone's counters as the program would read them now. The unread-SMS count is
// read under HKLM and, where that read fails, under HKCU, where the platform documents it.
struct Counters {
    enum Which { Missed, Unread, Calls, UnreadDocumented, kCount };
    std::array<std::uint32_t, kCount> raw{};
    std::array<bool, kCount> readable{};  // last written as a DWORD, and not deleted since

    // Where each counter lives, as the event log writes the key and the name.
    static const std::array<std::pair<std::string, std::string>, kCount>& values() {
        static const auto spelt = [](const StateValue& v) {
            return std::pair{format_key_path(v.key_path()), to_utf8(v.name)};
        };
        static const std::array<std::pair<std::string, std::string>, kCount> values{
            spelt(kMissedCallCount), spelt(kUnreadSmsCountHklm), spelt(kActiveCallCount), spelt(kUnreadSmsCount)};
        return values;
    }

    LONG count(Which which) const {
        if (which == Unread && !readable[Unread]) which = UnreadDocumented;
        return readable[which] ? static_cast<LONG>(raw[which]) : 0;
    }
    bool pending(Which which) const { return count(which) > 0; }
    bool in_call() const { return count(Calls) != 0; }

    void apply(const std::string& kind, const Json& event) {
        const std::string key = text_field(event, "key");
        const bool has_name = event.contains("name");
        const std::string name = text_field(event, "name");
        for (std::size_t i = 0; i < kCount; ++i) {
            const auto& [value_key, value_name] = values()[i];
            if (kind == "reg.set" && same_name(key, value_key) && same_name(name, value_name)) {
                // Anything but a DWORD cannot be read as a count.
                readable[i] = text_field(event, "type") == "dword";
                raw[i] = readable[i] ? static_cast<std::uint32_t>(number_field(event, "data", 0)) : 0;
            } else if (kind == "reg.delete" && has_name && same_name(key, value_key) &&
                       same_name(name, value_name)) {
                readable[i] = false;
                raw[i] = 0;
            } else if (kind == "reg.delete" && !has_name &&
                       (same_name(key, value_key) || starts_with_name(value_key, key + "\\"))) {
                readable[i] = false;
                raw[i] = 0;
            }
        }
    }
};

// The settings' key as the log spells it.
const std::string kSettingsKeyPath = "HKCU\\" + to_utf8(kSettingsKey);

// What the run did with each setting the screen showed as changed and the registry
// has not stored since: where it was shown, and whether its refusal was excused.
class UnstoredSettings {
public:
    void fault(const Json& event) {
        const std::string point = text_field(event, "point");
        if (point == "storage full" || point == "registry write") active_[point] = flag_field(event, "on");
    }
    // The screen shows a control's new state.
    void shown(const Json& event, std::size_t line) {
        for (std::size_t i = 0; i < kSettingControls.size(); ++i) {
            const SettingControl& s = kSettingControls[i];
            if (number_field(event, "dialog") != s.dialog || number_field(event, "id") != s.control) continue;
            const long long value = event.contains("checked") ? (flag_field(event, "checked") ? 1 : 0)
                                                               : number_field(event, "selected");
            pending_[i] = Shown{line, value, false};
        }
    }
    // Any write of the value, the program's or the script's, supersedes what was shown.
    void written(const std::string& kind, const Json& event) {
        const std::string key = text_field(event, "key");
        const bool whole_key = kind == "reg.delete" && !event.contains("name");
        for (std::size_t i = 0; i < kSettingControls.size(); ++i) {
            const bool this_value = same_name(key, kSettingsKeyPath) &&
                                    same_name(text_field(event, "name"), to_utf8(kSettingControls[i].name));
            const bool key_gone = whole_key && starts_with_name(kSettingsKeyPath + "\\", key + "\\");
            if (this_value || key_gone) pending_[i].reset();
        }
    }
    // The program's report of a refused write: "WriteRegDword(NAME, VALUE) failed: CODE".
    void reported(const Json& event) {
        const std::string text = text_field(event, "text");
        const bool fault_on = std::any_of(active_.begin(), active_.end(), [](const auto& a) { return a.second; });
        for (std::size_t i = 0; i < kSettingControls.size(); ++i) {
            const std::string prefix = "WriteRegDword(" + to_utf8(kSettingControls[i].name) + ", ";
            if (pending_[i] && text.starts_with(prefix) && fault_on) pending_[i]->excused = true;
        }
    }
    void check(std::vector<Violation>& out) const {
        for (std::size_t i = 0; i < kSettingControls.size(); ++i) {
            if (!pending_[i] || pending_[i]->excused) continue;
            out.push_back({kSettingStored, "log line " + std::to_string(pending_[i]->line) + ": the screen shows " +
                                               to_utf8(kSettingControls[i].name) + " = " +
                                               std::to_string(pending_[i]->value) +
                                               ", but the registry never stored it and no refusal was reported "
                                               "while a storage fault was on"});
        }
    }

private:
    struct Shown {
        std::size_t line;
        long long value;
        bool excused;
    };
    std::array<std::optional<Shown>, kSettingControls.size()> pending_;
    std::map<std::string, bool> active_;
};

// The reminder a kind sound began: the count its count sound must announce.
struct Reminder {
    std::string file;
    long long count = 0;
};

class LogChecker {
public:
    LogChecker(const RunRecord& run, std::vector<Violation>& out)
        : run_(run), out_(out), sounds_(to_utf8(run.program_folder) + "\\" + to_utf8(kSoundFolder) + "\\") {}

    void check() {
        read_log_lines(run_.log, [this](const LogLine& line) { take(line); });
        // A run that did not end by itself had no chance to store what it held.
        if (!run_.end.hung && run_.end.signal == 0) unstored_.check(out_);
    }

private:
    void take(const LogLine& line) {
        line_ = static_cast<std::size_t>(line.number);
        std::string error;
        const std::optional<Json> parsed = parse_log_line(line.text, error);
        if (!parsed || !parsed->is_object() || !parsed->contains("ev") || !(*parsed)["ev"].is_string()) {
            // A run that was killed may have left half a line at the end.
            const bool cut_short = line.last && (run_.end.hung || run_.end.signal != 0);
            if (!cut_short)
                add(kRunEnded, "the event log's line is not an event: " + std::string(line.text.substr(0, 120)));
            return;
        }
        const Json& event = *parsed;
        t_ = number_field(event, "t");
        const std::string kind = event["ev"].get<std::string>();
        if (kind == "reg.set" || kind == "reg.delete") {
            counters_.apply(kind, event);
            unstored_.written(kind, event);
        } else if (kind == "control.change") unstored_.shown(event, line_);
        else if (kind == "fault") unstored_.fault(event);
        else if (kind == "debug") unstored_.reported(event);
        else if (kind == "key") key(event);
        else if (kind == "sound") sound(event);
        else if (kind == "dialog.open" || kind == "dialog.close") dialog(kind, event);
    }

    void add(const char* invariant, std::string detail) {
        out_.push_back({invariant, "log line " + std::to_string(line_) + " (t=" + std::to_string(t_) +
                                       " ms): " + std::move(detail)});
    }

    void key(const Json& event) {
        if (text_field(event, "source") != "inject") return;
        const long long vk = number_field(event, "vk");
        if (!flag_field(event, "silent"))
            add(kSilentInjection, "injected key " + std::to_string(vk) + " is not silent");
        if (vk == VK_KEYLOCK && !flag_field(event, "up") && counters_.in_call())
            add(kNoLockInCall, "the key-lock key was injected while \"Active Call Count\" is " +
                                   std::to_string(counters_.count(Counters::Calls)));
    }

    // The reminder sound's kind from its file name, or nothing for other sounds.
    std::optional<Reminder> kind_sound(const std::string& name) const {
        const auto missed = counters_.count(Counters::Missed);
        const auto unread = counters_.count(Counters::Unread);
        if (same_name(name, to_utf8(kMissedCallSound))) return Reminder{name, missed};
        if (same_name(name, to_utf8(kUnreadSmsSound))) return Reminder{name, unread};
        if (same_name(name, to_utf8(kMissedCallSmsSound)))
            return Reminder{name, static_cast<long long>(missed) + unread};
        return std::nullopt;
    }

    void sound(const Json& event) {
        const std::string file = text_field(event, "file");
        const bool program_sound = starts_with_name(file, sounds_);
        if (!program_sound) {
            last_reminder_.reset();
            return;
        }
        if (flag_field(event, "missing")) add(kSoundExists, "the program's sound " + file + " is missing");
        const std::string name = file.substr(sounds_.size());

        if (auto reminder = kind_sound(name)) {
            const bool both = same_name(name, to_utf8(kMissedCallSmsSound));
            const bool pending = both ? counters_.pending(Counters::Missed) && counters_.pending(Counters::Unread)
                                      : reminder->count > 0;
            if (!pending)
                add(kReminderPending, name + " plays with missed " + std::to_string(counters_.count(Counters::Missed)) +
                                          ", unread " + std::to_string(counters_.count(Counters::Unread)));
            if (counters_.in_call()) add(kReminderPending, name + " plays during a call");
            last_reminder_ = std::move(reminder);
            return;
        }
        const bool count_sound = starts_with_name(name, to_utf8(kCountSoundPrefix));
        if (count_sound) {
            // The count sound follows its reminder's first sound; the counts it was
            // given are those of that moment, not of the pause later.
            if (!last_reminder_) {
                add(kReminderPending, name + " plays without a reminder sound before it");
            } else {
                const long long count = last_reminder_->count;
                const std::string expected =
                    count > kLargestCountSound
                        ? to_utf8(kCountOverSound)
                        : to_utf8(kCountSoundPrefix) + std::to_string(count) + to_utf8(kCountSoundSuffix);
                if (!same_name(name, expected))
                    add(kReminderPending, name + " follows " + last_reminder_->file + " for a count of " +
                                              std::to_string(count) + " (" + expected + ")");
            }
        }
        last_reminder_.reset();
    }

    void dialog(const std::string& kind, const Json& event) {
        if (number_field(event, "id") != run_.main_dialog) return;
        if (kind == "dialog.close") {
            if (open_main_ > 0) --open_main_;
            return;
        }
        if (++open_main_ > 1)
            add(kOneMainWindow, std::to_string(open_main_) + " main windows are open (\"" +
                                    text_field(event, "title") + "\")");
    }

    const RunRecord& run_;
    std::vector<Violation>& out_;
    const std::string sounds_;  // the program's sound folder with its trailing backslash
    Counters counters_;
    UnstoredSettings unstored_;
    std::optional<Reminder> last_reminder_;
    int open_main_ = 0;
    std::size_t line_ = 0;
    long long t_ = -1;
};

void check_end(const RunEnd& end, std::vector<Violation>& out) {
    if (end.hung) out.push_back({kRunEnded, "hang: the watchdog had to end the phone"});
    if (!end.hung && end.signal != 0)
        out.push_back({kRunEnded, "abort: the phone was killed by signal " + std::to_string(end.signal) + " (" +
                                      strsignal(end.signal) + ")"});
    // 1 is a command that the phone refused (a click on a dialog that is not in front):
    // ordinary for random input. 2 is a script the phone could not read.
    if (end.signal == 0 && !end.hung && end.exit_code == 2)
        out.push_back({kRunEnded, "the phone could not read the script (exit status 2)"});
    else if (end.signal == 0 && !end.hung && end.exit_code != 0 && end.exit_code != 1)
        out.push_back({kRunEnded, "abort: the phone exited with status " + std::to_string(end.exit_code)});
    static constexpr const char* kAbortMarks[] = {"terminate called", "AddressSanitizer", "LeakSanitizer",
                                                  "ThreadSanitizer", "runtime error:"};
    std::size_t start = 0;
    while (start < end.diagnostics.size()) {
        std::size_t stop = end.diagnostics.find('\n', start);
        if (stop == std::string::npos) stop = end.diagnostics.size();
        const std::string_view line(end.diagnostics.data() + start, stop - start);
        for (const char* mark : kAbortMarks) {
            if (line.find(mark) == std::string_view::npos) continue;
            // An exception's message comes on the line after "terminate called".
            std::string text(line.substr(0, 200));
            const std::size_t next_stop = std::min(end.diagnostics.find('\n', stop + 1), end.diagnostics.size());
            if (stop < end.diagnostics.size()) {
                const std::string_view next(end.diagnostics.data() + stop + 1, next_stop - stop - 1);
                if (next.find("what():") != std::string_view::npos) text += " /" + std::string(next.substr(0, 200));
            }
            out.push_back({kRunEnded, "abort: " + text});
            return;
        }
        start = stop + 1;
    }
}

const RegTree* subkey(const RegTree& tree, std::u16string_view name) {
    const std::u16string folded = fold_name(name);
    for (const auto& s : tree.subkeys) {
        const std::size_t cut = s.path.rfind(u'\\');
        const std::u16string_view leaf = cut == std::u16string::npos ? std::u16string_view(s.path)
                                                                     : std::u16string_view(s.path).substr(cut + 1);
        if (fold_name(leaf) == folded) return &s;
    }
    return nullptr;
}

// Each value the factory wrote into an entry is found exactly once, under its own name
// (3G allowed) or under "No" + its name (blocked), with the factory's type and bytes.
void check_phone_book(const RunRecord& run, std::vector<Violation>& out) {
    for (const auto& factory_entry : run.factory_book.subkeys) {
        const std::size_t cut = factory_entry.path.rfind(u'\\');
        const std::u16string leaf = factory_entry.path.substr(cut == std::u16string::npos ? 0 : cut + 1);
        const std::string where = "entry \"" + to_utf8(leaf) + "\"";
        const RegTree* entry = subkey(run.book, leaf);
        if (!entry) {
            out.push_back({kPhoneBook, where + " is gone"});
            continue;
        }
        for (const auto& factory_value : factory_entry.values) {
            const std::u16string allowed = fold_name(factory_value.name);
            const std::u16string blocked = fold_name(u"No" + factory_value.name);
            std::vector<const RegValue*> held;
            for (const auto& v : entry->values) {
                const std::u16string name = fold_name(v.name);
                if (name == allowed || name == blocked) held.push_back(&v);
            }
            const std::string value = "\"" + to_utf8(factory_value.name) + "\"";
            if (held.size() != 1) {
                out.push_back({kPhoneBook, where + " holds " + value + " " + std::to_string(held.size()) +
                                               " times (allowed and blocked names together)"});
                continue;
            }
            if (held[0]->type != factory_value.type || held[0]->data != factory_value.data)
                out.push_back({kPhoneBook, where + ": \"" + to_utf8(held[0]->name) + "\" (" +
                                               std::to_string(held[0]->data.size()) + " bytes) differs from the " +
                                               value + " the factory wrote (" +
                                               std::to_string(factory_value.data.size()) + " bytes)"});
        }
    }
}

}  // namespace

std::vector<Violation> check_run(const RunRecord& run) {
    std::vector<Violation> out;
    check_end(run.end, out);
    LogChecker(run, out).check();
    check_phone_book(run, out);
    return out;
}

}  // namespace cli::monkey
