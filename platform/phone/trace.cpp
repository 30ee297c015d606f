// The event log as a trace: events become slices, instants and counter samples on the
// tracks of the run (timeline.cpp writes them), each concern of the phone followed
// by a part of its own.
//
// Some of what the viewer shows is not a single event of the log and is derived here:
// - Watch ticks: the log records the watch timer being set and killed, not each expiry,
//   so the ticks are the timer's schedule (every period after it was set, until it is
//   killed or the program has ended), a week of the program's watch at most.
// - Reminders: a reminder sound (missed calls, unread SMS, both) opens one and the count
//   sound that follows it joins it; in the silent profile a pulse as long as the first of
//   the program's pattern opens one and the pulses that follow it within a short gap join
//   it; during a call a single pulse of the program's in-call length is one. A reminder
//   spans the real playing time of its sounds and pulses.
// - Sounds play for their length unless the next sound stops them earlier.
// - The keypad and the 3G entry have two forms, so their form before the first change in
//   the log is the one that change left; the power state starts "on", as the phone boots.
// - The battery is known from the first power-information broadcast on.
#include "platform/phone/trace.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/handset/registry/state_values.h"
#include "platform/phone/keys.h"
#include "platform/phone/timeline.h"
#include "res/program_facts.h"

using namespace handset;

namespace phone {
namespace {

using namespace timeline;

// How late after its reminder sound the count sound may start and still belong to it
// (the program pauses kCountSoundPauseMs; a scaled real clock may stretch that).
constexpr long long kCountSoundGapMs = 1000;
// How far apart the pulses of the silent reminder may be and still be one (the program
// pauses kReminderPulsePauseMs).
constexpr long long kPulseGapMs = 250;
// Pulses measured on the real clock run a few milliseconds long.
constexpr long long kPulseSlackMs = 30;

struct BadEvent : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const Json& field(const Json& event, const char* name) {
    const auto it = event.find(name);
    if (it == event.end()) throw BadEvent(std::string("no field `") + name + "`");
    return *it;
}

long long whole(const Json& event, const char* name) {
    const Json& value = field(event, name);
    if (!value.is_number_integer()) throw BadEvent(std::string("`") + name + "` is not a whole number");
    return value.get<long long>();
}

// A time or a length of the log, in milliseconds of the handset clock, which starts at
// 0. No run comes near kLongestRunMs, and the trace's microseconds of a sum of two such
// figures still fit its numbers.
constexpr long long kLongestRunMs = 1'000'000'000'000;  // some 31 years
long long milliseconds(const Json& event, const char* name) {
    const long long ms = whole(event, name);
    if (ms < 0) throw BadEvent(std::string("`") + name + "` is negative");
    if (ms > kLongestRunMs) throw BadEvent(std::string("`") + name + "` is longer than any run");
    return ms;
}

const std::string& text(const Json& event, const char* name) {
    const Json& value = field(event, name);
    if (!value.is_string()) throw BadEvent(std::string("`") + name + "` is not a string");
    return value.get_ref<const std::string&>();
}

bool flag(const Json& event, const char* name) {
    const Json& value = field(event, name);
    if (!value.is_boolean()) throw BadEvent(std::string("`") + name + "` is not true or false");
    return value.get<bool>();
}

// The file name of a device path (`\Program Files\Quillon\Sound\alert2.wav` -> `alert2.wav`).
std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One of the program's names, spelt as the trace compares names: in lower case.
std::string lower_name(const WCHAR* name) {
    return ascii_lower(to_utf8(name));
}

// What a reminder sound reminds of, or nothing for another sound.
const char* reminder_subject(const std::string& file) {
    const std::string name = ascii_lower(base_name(file));
    if (name == lower_name(kMissedCallSound)) return "missed calls";
    if (name == lower_name(kUnreadSmsSound)) return "unread SMS";
    if (name == lower_name(kMissedCallSmsSound)) return "missed calls and SMS";
    return nullptr;
}

// The count a count sound says (2 for the second, "over 10" for the one above the
// largest), or nothing for another sound.
std::optional<Json> reminder_count(const std::string& file) {
    const std::string name = ascii_lower(base_name(file));
    if (name == lower_name(kCountOverSound)) return Json("over " + std::to_string(kLargestCountSound));
    const std::string prefix = lower_name(kCountSoundPrefix), suffix = lower_name(kCountSoundSuffix);
    if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return std::nullopt;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 2 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    return Json(std::stoi(digits));
}

// Whether `key` is `deleted` or below it: deleting a key deletes everything below it.
bool within(const std::string& key, const std::string& deleted) {
    return key == deleted || (key.starts_with(deleted) && key[deleted.size()] == '\\');
}

bool about(long long ms, long long target) {
    return ms >= target - kPulseSlackMs && ms <= target + kPulseSlackMs;
}

// A state shown as one slice per stretch.
struct Stretches {
    std::optional<std::string> current;
    long long since = 0;
};

struct Reminder {
    std::size_t slice;
    std::vector<std::size_t> members;  // sound or vibration slices
    bool by_sound;
    bool open;  // a count sound or a further pulse may still join
};

// The carrier entry's values, by the form they belong to, in lower case: the allowed
// form's two, then the blocked form's.
const std::string kEntryValues[] = {lower_name(kAllowedEntryForm.dev_cfg), lower_name(kAllowedEntryForm.entry),
                                    lower_name(kBlockedEntryForm.dev_cfg), lower_name(kBlockedEntryForm.entry)};

// The slices of every track, the states shown as stretches, and the span of the log.
struct Timeline {
    std::vector<Slice> slices;
    std::map<Track, Stretches> stretches;
    std::optional<long long> first_t;
    long long last_t = 0;

    std::size_t push(Slice slice) {
        slices.push_back(std::move(slice));
        return slices.size() - 1;
    }

    // What started before the log: it starts with the log, or at `t` when the log starts now.
    long long log_start(long long t) const { return first_t.value_or(t); }

    // Ends slice `i` at `t`. The log is not in time order everywhere: an end logged with
    // a time before its start makes a slice of no length.
    void end(std::size_t i, long long t) { slices[i].end = std::max(t, slices[i].start); }

    void change(Track track, const std::string& value, long long t) {
        Stretches& s = stretches[track];
        if (s.current == value) return;
        // A state that lasted no time (the 3G entry between its two moves) is not shown.
        if (s.current && t > s.since) push({track, s.since, t, *s.current});
        s.current = value;
        s.since = t;
    }

    // A state that was `before` from the start of the log until its first change.
    void change_from(Track track, const std::string& before, const std::string& value, long long t) {
        if (!stretches[track].current) change(track, before, log_start(t));
        change(track, value, t);
    }

    // Ends the stretches and whatever is still open at `end`.
    void finish(long long end) {
        for (auto& [track, stretch] : stretches)
            if (stretch.current) push({track, stretch.since, std::max(end, stretch.since), *stretch.current});
        for (Slice& slice : slices) {
            if (slice.end) continue;
            slice.end = std::max(end, slice.start);
            slice.args["open_at_the_end_of_the_log"] = true;
        }
    }
};

// The watch timer's schedules of ticks.
struct WatchTicks {
    std::vector<Schedule> schedules;
    std::optional<long long> since;
    long long period = 0;

    // Ends the current schedule at `limit`.
    void stop(long long limit, bool inclusive) {
        if (since && period > 0) schedules.push_back({*since, period, std::max(limit, *since), inclusive});
        since.reset();
    }

    void on_timer(const Json& e, long long t, bool set) {
        const long long id = whole(e, "id");
        const long long ms = set ? milliseconds(e, "ms") : 0;
        if (id != WATCH_TIMER_ID) return;
        // Setting the timer again starts its schedule afresh; a kill comes from inside
        // a tick (the mail client's pass-through) or after the last one.
        stop(t, !set);
        if (set) {
            // The log is not in time order everywhere; the ticks are: a schedule starts
            // no earlier than the last one ended.
            since = schedules.empty() ? t : std::max(t, schedules.back().until);
            period = ms;
        }
    }
};

// Sounds and vibration pulses, and the reminders they make up.
struct Reminders {
    explicit Reminders(Timeline& timeline) : timeline(timeline) {}

    Timeline& timeline;
    std::optional<std::size_t> last_sound;
    std::vector<Reminder> list;

    // The reminder that a sound (`by_sound`) or a pulse may still join.
    Reminder* open(bool by_sound) {
        return !list.empty() && list.back().open && list.back().by_sound == by_sound ? &list.back() : nullptr;
    }

    void on_sound(const Json& e, long long t) {
        const std::string& file = text(e, "file");
        const std::string& mode = text(e, "mode");
        const long long ms = milliseconds(e, "ms");
        const bool missing = flag(e, "missing");
        std::vector<Slice>& slices = timeline.slices;
        // A new sound stops the one playing.
        if (last_sound && slices[*last_sound].end > t) {
            slices[*last_sound].args["stopped_by_next_ms"] = *slices[*last_sound].end - t;
            slices[*last_sound].end = std::max(t, slices[*last_sound].start);
        }
        const std::size_t sound =
            timeline.push({kSound, t, t + ms, base_name(file),
                           Json{{"file", file}, {"mode", mode}, {"length_ms", ms}, {"missing", missing}}});
        last_sound = sound;

        Reminder* joining = open(true);
        const auto count = reminder_count(file);
        if (joining && count && t <= *slices[joining->members.front()].end + kCountSoundGapMs) {
            joining->members.push_back(sound);
            slices[joining->slice].args["count"] = *count;
            joining->open = false;
            return;
        }
        if (joining) joining->open = false;
        if (const char* subject = reminder_subject(file)) start(std::string("reminder: ") + subject, t, sound, true);
    }

    void on_vibrate(const Json& e, long long t, bool in_call) {
        const long long ms = milliseconds(e, "ms");
        const std::size_t pulse = timeline.push({kVibration, t, t + ms, "vibration", Json{{"ms", ms}}});
        if (Reminder* joining = open(false)) {
            const long long previous_end = *timeline.slices[joining->members.back()].end;
            if (t >= previous_end && t - previous_end <= kPulseGapMs) {
                joining->members.push_back(pulse);
                joining->open = joining->members.size() < kReminderPulsesMs.size();
                return;
            }
            joining->open = false;
        }
        if (about(ms, kReminderPulsesMs.front()))
            start("reminder: vibration", t, pulse, false);
        else if (about(ms, kInCallPulseMs) && in_call) {
            start("reminder: during a call", t, pulse, false);
            list.back().open = false;
        }
    }

    void start(std::string name, long long t, std::size_t member, bool by_sound) {
        const std::size_t slice = timeline.push({kWatch, t, std::nullopt, std::move(name)});
        list.push_back({slice, {member}, by_sound, true});
    }

    // A reminder spans the real playing time of its sounds and pulses.
    void finish() {
        for (Reminder& r : list) {
            long long last = timeline.slices[r.slice].start;
            for (std::size_t m : r.members) last = std::max(last, *timeline.slices[m].end);
            timeline.slices[r.slice].end = last;
        }
    }
};

// The program's and the mail client's runs, the program's dialogs and message boxes.
struct Programs {
    Programs(Timeline& timeline, WatchTicks& watch) : timeline(timeline), watch(watch) {}

    Timeline& timeline;
    WatchTicks& watch;
    std::vector<std::size_t> program_runs;
    std::vector<std::size_t> mail_runs;
    std::vector<std::pair<long long, std::size_t>> dialogs;  // (id, slice), innermost last

    void on_process(const Json& e, long long t, bool start) {
        const std::string& file = text(e, "file");
        const long long code = start ? 0 : whole(e, "code");
        const bool mail = ascii_lower(base_name(file)) == "e mail.exe";
        auto& runs = mail ? mail_runs : program_runs;
        const Track track = mail ? kMail : kProgram;
        if (start) {
            runs.push_back(timeline.push({track, t, std::nullopt, base_name(file), Json{{"file", file}}}));
            return;
        }
        // A second instance ends before the first: the latest run is the one that ends.
        if (runs.empty()) {
            runs.push_back(timeline.push({track, timeline.log_start(t), std::nullopt, base_name(file),
                                          Json{{"file", file}, {"started_before_the_log", true}}}));
        }
        Slice& run = timeline.slices[runs.back()];
        timeline.end(runs.back(), t);
        runs.pop_back();
        run.args["exit_code"] = code;
        if (!mail && program_runs.empty()) watch.stop(t, true);
    }

    void on_mail_connect(const Json& e) {
        const bool ok = flag(e, "ok");
        if (!mail_runs.empty()) timeline.slices[mail_runs.back()].args["connected"] = ok;
    }

    void on_dialog(const Json& e, long long t, bool open) {
        const long long id = whole(e, "id");
        const std::string& title = text(e, "title");
        if (open) {
            dialogs.emplace_back(id, timeline.push({kProgram, t, std::nullopt, title, Json{{"id", id}}}));
            return;
        }
        const long long result = whole(e, "result");
        auto it = std::find_if(dialogs.rbegin(), dialogs.rend(), [id](const auto& d) { return d.first == id; });
        std::size_t slice;
        if (it == dialogs.rend()) {
            slice = timeline.push({kProgram, timeline.log_start(t), std::nullopt, title,
                                   Json{{"id", id}, {"opened_before_the_log", true}}});
        } else {
            slice = it->second;
            dialogs.erase(std::next(it).base());
        }
        timeline.end(slice, t);
        timeline.slices[slice].args["result"] = result;
    }

    void on_message_box(const Json& e, long long t) {
        Slice box{kProgram, t, t, "message box", Json{{"caption", text(e, "caption")}, {"text", text(e, "text")}}};
        box.instant = true;
        timeline.push(std::move(box));
    }
};

// Key presses, a release joining its press.
struct Keys {
    explicit Keys(Timeline& timeline) : timeline(timeline) {}

    Timeline& timeline;
    std::map<long long, std::size_t> down;  // vk -> its press

    void on_key(const Json& e, long long t) {
        const long long vk = whole(e, "vk");
        const bool up = flag(e, "up");
        const bool silent = flag(e, "silent");
        const std::string& source = text(e, "source");
        if (up) {
            const auto press = down.find(vk);
            if (press != down.end()) {
                timeline.slices[press->second].args["held_ms"] = t - timeline.slices[press->second].start;
                down.erase(press);
                return;
            }
        }
        Slice key{kKeys, t, t, key_label(static_cast<int>(vk)) + (up ? " released" : ""),
                  Json{{"vk", vk}, {"source", source}, {"silent", silent}}};
        key.instant = true;
        const std::size_t index = timeline.push(std::move(key));
        if (!up) down[vk] = index;
    }
};

// What the registry writes of the phone's state: its counters and the 3G entry's form.
struct PhoneRegistry {
    explicit PhoneRegistry(Timeline& timeline) : timeline(timeline) {}

    Timeline& timeline;
    std::vector<CounterSample> counters;
    long long active_calls = 0;
    std::optional<bool> entry_present[4];

    void on_registry(const Json& e, long long t, bool set) {
        const std::string key = ascii_lower(text(e, "key"));
        const std::optional<std::string> name =
            e.contains("name") ? std::optional(ascii_lower(text(e, "name"))) : std::nullopt;
        if (set && !name) throw BadEvent("no field `name`");
        long long value = 0;
        // The program reads a count that is missing or not a DWORD as nothing pending.
        if (set && text(e, "type") == "dword") value = whole(e, "data");

        // The log writes keys and names as the phone spells them; compared in lower case.
        struct Count {
            std::string key, name;
            const char* counter;
        };
        static const auto spelt = [](const StateValue& v, const char* counter) {
            return Count{ascii_lower(format_key_path(v.key_path())), ascii_lower(to_utf8(v.name)), counter};
        };
        // A device keeps the unread-SMS count in one of its two places.
        static const Count counts[] = {spelt(kMissedCallCount, "Missed calls"), spelt(kUnreadSmsCount, "Unread SMS"),
                                       spelt(kActiveCallCount, "Active calls"),
                                       spelt(kUnreadSmsCountHklm, "Unread SMS")};
        static const std::vector<std::string> entries = [] {
            std::vector<std::string> keys;
            for (const CarrierEntry& c : kCarrierEntries)
                keys.push_back(ascii_lower(format_key_path({RegRoot::CurrentUser, c.key})));
            return keys;
        }();
        for (const Count& c : counts) {
            if (name ? key != c.key || *name != c.name : !within(c.key, key)) continue;
            counters.push_back({c.counter, t, value});
            if (c.counter == counts[2].counter) active_calls = value;
        }
        for (const std::string& entry : entries)
            if (name ? key == entry : within(entry, key)) on_entry(name, set, t);
    }

    // A write to the carrier's phone-book entry: the 3G form it leaves.
    void on_entry(const std::optional<std::string>& name, bool set, long long t) {
        int which = -1;
        for (int i = 0; i < 4; ++i)
            if (name && *name == kEntryValues[i]) which = i;
        if (name && which < 0) return;
        if (!timeline.stretches[kEntry].current) {
            // The first move shows the form the entry had: a move towards blocking
            // started from the allowed form, and the other way round.
            const bool towards_allowed = which >= 0 && ((which < 2) == set);
            for (int i = 0; i < 4; ++i) entry_present[i] = (i < 2) != towards_allowed;
            timeline.change(kEntry, form(), timeline.log_start(t));
        }
        if (which < 0) {
            for (auto& present : entry_present) present = false;
        } else {
            entry_present[which] = set;
        }
        timeline.change(kEntry, form(), t);
    }

    // The form as the phone's own panel names it.
    std::string form() const {
        const auto has = [this](int i) { return entry_present[i].value_or(false); };
        const bool allowed = has(0) && has(1);
        const bool blocked = has(2) && has(3);
        if (!has(0) && !has(1) && !has(2) && !has(3)) return "no 3G entry";
        if (allowed && !has(2) && !has(3)) return "3G allowed";
        if (blocked && !has(0) && !has(1)) return "3G blocked";
        return "3G entry mixed";
    }
};

}  // namespace

struct TraceBuilder::State {
    Timeline timeline;
    WatchTicks watch;
    Reminders reminders{timeline};
    Programs programs{timeline, watch};
    Keys keys{timeline};
    PhoneRegistry registry{timeline};

    void add(const Json& e) {
        if (!e.is_object()) throw BadEvent("not a JSON object");
        const long long t = milliseconds(e, "t");
        const std::string& ev = text(e, "ev");
        if (ev == "sound")
            reminders.on_sound(e, t);
        else if (ev == "vibrate")
            reminders.on_vibrate(e, t, registry.active_calls > 0);
        else if (ev == "key")
            keys.on_key(e, t);
        else if (ev == "power") {
            timeline.change_from(kPower, "power on", "power " + text(e, "state"), t);
            // Power-information broadcasts carry the battery; what it was before the
            // first of them the log does not say.
            if (e.contains("battery")) {
                const std::string source = flag(e, "charging") ? ", charging" : flag(e, "charger") ? ", on the charger" : "";
                timeline.change(kBattery, "battery " + std::to_string(whole(e, "battery")) + "%" + source, t);
            }
        }
        else if (ev == "keypad") {
            const bool locked = flag(e, "locked");
            timeline.change_from(kKeypad, locked ? "keypad unlocked" : "keypad locked",
                                 locked ? "keypad locked" : "keypad unlocked", t);
        } else if (ev == "reg.set" || ev == "reg.delete")
            registry.on_registry(e, t, ev == "reg.set");
        else if (ev == "timer.set" || ev == "timer.kill")
            watch.on_timer(e, t, ev == "timer.set");
        else if (ev == "process.start" || ev == "process.exit")
            programs.on_process(e, t, ev == "process.start");
        else if (ev == "mail.connect")
            programs.on_mail_connect(e);
        else if (ev == "dialog.open" || ev == "dialog.close")
            programs.on_dialog(e, t, ev == "dialog.open");
        else if (ev == "msgbox")
            programs.on_message_box(e, t);
        // Other kinds (window, shell file and debug events) have no track of their own.
        if (!timeline.first_t) timeline.first_t = t;
        // The phone boots "on"; the stretch starts with the log.
        if (!timeline.stretches[kPower].current) timeline.change(kPower, "power on", *timeline.first_t);
        // A pulse is logged when it stops, so the log has reached its end.
        timeline.last_t = std::max(timeline.last_t, ev == "vibrate" ? t + e.at("ms").get<long long>() : t);
    }

    // Ends whatever is still open at the last moment the log reached.
    void finish() {
        const long long end = timeline.last_t;
        reminders.finish();
        timeline.finish(end);
        watch.stop(end, true);
    }
};

TraceBuilder::TraceBuilder() : state_(std::make_unique<State>()) {}
TraceBuilder::~TraceBuilder() = default;

bool TraceBuilder::add(const Json& event, std::string& error) {
    // Handlers read every field before they change anything, so a bad event leaves no trace.
    try {
        state_->add(event);
        return true;
    } catch (const BadEvent& e) {
        error = e.what();
    } catch (const Json::exception& e) {
        error = e.what();
    }
    return false;
}

void TraceBuilder::write(std::ostream& out) {
    state_->finish();
    write_timeline(out, state_->timeline.slices, state_->watch.schedules, state_->registry.counters);
}

bool write_trace(const std::string& path, TraceBuilder& builder, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) builder.write(out);
    out.close();
    if (!out) {
        error = "cannot write the trace " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace phone
