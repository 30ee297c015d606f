// The event log as a trace: events become slices, instants and counter samples on the
// tracks of the run, and the tracks are written as trace events.
//
// Some of what the viewer shows is not a single event of the log and is derived here:
// - Watch ticks: the log records the watch timer being set and killed, not each expiry,
//   so the ticks are the timer's schedule (every period after it was set, until it is
//   killed or the program has ended).
// - Reminders: a reminder sound (missedCall, unreadSms, missedCallSms) opens one and the
//   count sound (alertN, alertOver) that follows it joins it; in the silent profile a
//   300 ms pulse opens one and the pulses that follow it within a short gap join it (the
//   program's pattern is 300, 300, 500 ms, 100 ms apart); during a call a single 100 ms
//   pulse is one. A reminder spans the real playing time of its sounds and pulses.
// - Sounds play for their length unless the next sound stops them earlier.
// - The keypad and the 3G entry have two forms, so their form before the first change in
//   the log is the one that change left; the power state starts "on", as the phone boots.
#include "platform/phone/trace.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/phone/keys.h"
#include "platform/handset/registry/state_values.h"

namespace handset::frontend {
namespace {

enum Track : int { kProgram = 1, kWatch, kSound, kVibration, kKeys, kPower, kKeypad, kEntry, kMail, kCounters };

constexpr std::pair<Track, const char*> kTrackNames[] = {
    {kProgram, "Program"},  {kWatch, "Program: watch"}, {kSound, "Sound"},          {kVibration, "Vibration"},
    {kKeys, "Keys"},        {kPower, "Phone: power"},   {kKeypad, "Phone: keypad"}, {kEntry, "Phone: 3G"},
    {kMail, "Mail client"}, {kCounters, "Counters"},
};

constexpr int kPid = 1;
constexpr long long kWatchTimerId = 100;
// How late after its reminder sound the count sound may start and still belong to it
// (the program waits 150 ms; a scaled real clock may stretch that).
constexpr long long kCountSoundGapMs = 1000;
// The gap between the pulses of the silent reminder is 100 ms.
constexpr long long kPulseGapMs = 250;
constexpr int kPatternPulses = 3;
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

long long length(const Json& event, const char* name) {
    const long long ms = whole(event, name);
    if (ms < 0) throw BadEvent(std::string("`") + name + "` is negative");
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


// What a reminder sound reminds of, or nothing for another sound.
const char* reminder_subject(const std::string& file) {
    const std::string name = ascii_lower(base_name(file));
    if (name == "missedcall.wav") return "missed calls";
    if (name == "unreadsms.wav") return "unread SMS";
    if (name == "missedcallsms.wav") return "missed calls and SMS";
    return nullptr;
}

// The count a count sound says (2 for alert2.wav, "over 10" for alertOver.wav), or
// nothing for another sound.
std::optional<Json> reminder_count(const std::string& file) {
    const std::string name = ascii_lower(base_name(file));
    if (name == "alertover.wav") return Json("over 10");
    if (!name.starts_with("alert") || !name.ends_with(".wav")) return std::nullopt;
    const std::string digits = name.substr(5, name.size() - 9);
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

struct Slice {
    Track track;
    long long start;
    std::optional<long long> end;  // nothing: still open; ends where the log ends
    std::string name;
    Json args = Json::object();
    bool instant = false;
};

struct CounterSample {
    const char* name;
    long long t;
    long long value;
};

// A state shown as one slice per stretch.
struct Stretches {
    std::optional<std::string> current;
    long long since = 0;
};

// The watch timer ticks every `period` after `since`, up to `until`.
struct Schedule {
    long long since;
    long long period;
    long long until;
    bool inclusive;
};

struct Reminder {
    std::size_t slice;
    std::vector<std::size_t> members;  // sound or vibration slices
    bool by_sound;
    bool open;  // a count sound or a further pulse may still join
};

// The carrier entry's values, by the form they belong to.
constexpr const char* kEntryValues[] = {"devcfg", "entry", "nodevcfg", "noentry"};

}  // namespace

struct TraceBuilder::State {
    std::vector<Slice> slices;
    std::vector<CounterSample> counters;
    std::vector<Schedule> schedules;
    std::optional<long long> first_t;
    long long last_t = 0;

    std::optional<std::size_t> last_sound;
    std::vector<Reminder> reminders;
    long long active_calls = 0;

    std::optional<long long> watch_since;
    long long watch_period = 0;

    std::vector<std::size_t> program_runs;
    std::vector<std::size_t> mail_runs;
    std::vector<std::pair<long long, std::size_t>> dialogs;  // (id, slice), innermost last
    std::map<long long, std::size_t> keys_down;              // vk -> its press

    std::map<Track, Stretches> stretches;
    std::optional<bool> entry_present[4];

    std::size_t push(Slice slice) {
        slices.push_back(std::move(slice));
        return slices.size() - 1;
    }

    void change(Track track, const std::string& value, long long t) {
        Stretches& s = stretches[track];
        if (s.current == value) return;
        // A state that lasted no time (the 3G entry between its two moves) is not shown.
        if (s.current && t > s.since) push({track, s.since, t, *s.current});
        s.current = value;
        s.since = t;
    }

    // Ends the current schedule of watch ticks at `limit`.
    void tick_until(long long limit, bool inclusive) {
        if (watch_since && watch_period > 0) schedules.push_back({*watch_since, watch_period, limit, inclusive});
    }

    void on_sound(const Json& e, long long t) {
        const std::string& file = text(e, "file");
        const std::string& mode = text(e, "mode");
        const long long ms = length(e, "ms");
        const bool missing = flag(e, "missing");
        // A new sound stops the one playing.
        if (last_sound && slices[*last_sound].end > t) {
            slices[*last_sound].args["stopped_by_next_ms"] = *slices[*last_sound].end - t;
            slices[*last_sound].end = std::max(t, slices[*last_sound].start);
        }
        const std::size_t sound = push({kSound, t, t + ms, base_name(file),
                                        Json{{"file", file}, {"mode", mode}, {"length_ms", ms}, {"missing", missing}}});
        last_sound = sound;

        Reminder* open =
            !reminders.empty() && reminders.back().open && reminders.back().by_sound ? &reminders.back() : nullptr;
        const auto count = reminder_count(file);
        if (open && count && t <= *slices[open->members.front()].end + kCountSoundGapMs) {
            open->members.push_back(sound);
            slices[open->slice].args["count"] = *count;
            open->open = false;
            return;
        }
        if (open) open->open = false;
        if (const char* subject = reminder_subject(file))
            start_reminder(std::string("reminder: ") + subject, t, sound, true);
    }

    void on_vibrate(const Json& e, long long t) {
        const long long ms = length(e, "ms");
        const std::size_t pulse = push({kVibration, t, t + ms, "vibration", Json{{"ms", ms}}});
        Reminder* open =
            !reminders.empty() && reminders.back().open && !reminders.back().by_sound ? &reminders.back() : nullptr;
        if (open) {
            const long long previous_end = *slices[open->members.back()].end;
            if (t >= previous_end && t - previous_end <= kPulseGapMs) {
                open->members.push_back(pulse);
                open->open = open->members.size() < kPatternPulses;
                return;
            }
            open->open = false;
        }
        if (about(ms, 300))
            start_reminder("reminder: vibration", t, pulse, false);
        else if (about(ms, 100) && active_calls > 0) {
            start_reminder("reminder: during a call", t, pulse, false);
            reminders.back().open = false;
        }
    }

    void start_reminder(std::string name, long long t, std::size_t member, bool by_sound) {
        const std::size_t slice = push({kWatch, t, std::nullopt, std::move(name)});
        reminders.push_back({slice, {member}, by_sound, true});
    }

    void on_key(const Json& e, long long t) {
        const long long vk = whole(e, "vk");
        const bool up = flag(e, "up");
        const bool silent = flag(e, "silent");
        const std::string& source = text(e, "source");
        if (up) {
            const auto press = keys_down.find(vk);
            if (press != keys_down.end()) {
                slices[press->second].args["held_ms"] = t - slices[press->second].start;
                keys_down.erase(press);
                return;
            }
        }
        Slice key{kKeys, t, t, key_label(static_cast<int>(vk)) + (up ? " released" : ""),
                  Json{{"vk", vk}, {"source", source}, {"silent", silent}}};
        key.instant = true;
        const std::size_t index = push(std::move(key));
        if (!up) keys_down[vk] = index;
    }

    void on_process(const Json& e, long long t, bool start) {
        const std::string& file = text(e, "file");
        const long long code = start ? 0 : whole(e, "code");
        const bool mail = ascii_lower(base_name(file)) == "e mail.exe";
        auto& runs = mail ? mail_runs : program_runs;
        const Track track = mail ? kMail : kProgram;
        if (start) {
            runs.push_back(push({track, t, std::nullopt, base_name(file), Json{{"file", file}}}));
            return;
        }
        // A second instance ends before the first: the latest run is the one that ends.
        if (runs.empty()) {
            runs.push_back(push({track, first_t.value_or(t), std::nullopt, base_name(file),
                                 Json{{"file", file}, {"started_before_the_log", true}}}));
        }
        Slice& run = slices[runs.back()];
        runs.pop_back();
        run.end = t;
        run.args["exit_code"] = code;
        if (!mail && program_runs.empty()) {
            tick_until(t, true);
            watch_since.reset();
        }
    }

    void on_dialog(const Json& e, long long t, bool open) {
        const long long id = whole(e, "id");
        const std::string& title = text(e, "title");
        if (open) {
            dialogs.emplace_back(id, push({kProgram, t, std::nullopt, title, Json{{"id", id}}}));
            return;
        }
        const long long result = whole(e, "result");
        auto it = std::find_if(dialogs.rbegin(), dialogs.rend(), [id](const auto& d) { return d.first == id; });
        std::size_t slice;
        if (it == dialogs.rend()) {
            slice = push({kProgram, first_t.value_or(t), std::nullopt, title,
                          Json{{"id", id}, {"opened_before_the_log", true}}});
        } else {
            slice = it->second;
            dialogs.erase(std::next(it).base());
        }
        slices[slice].end = t;
        slices[slice].args["result"] = result;
    }

    void on_timer(const Json& e, long long t, bool set) {
        const long long id = whole(e, "id");
        const long long ms = set ? length(e, "ms") : 0;
        if (id != kWatchTimerId) return;
        // Setting the timer again starts its schedule afresh; a kill comes from inside
        // a tick (the mail client's pass-through) or after the last one.
        tick_until(t, !set);
        watch_since.reset();
        if (set) {
            watch_since = t;
            watch_period = ms;
        }
    }

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
        static const Count counts[] = {spelt(kMissedCallCount, "Missed calls"), spelt(kUnreadSmsCount, "Unread SMS"),
                                       spelt(kActiveCallCount, "Active calls")};
        static const std::vector<std::string> entries = [] {
            std::vector<std::string> keys;
            for (const CarrierEntry& c : kCarrierEntries) keys.push_back(ascii_lower(format_key_path({RegRoot::CurrentUser, c.key})));
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
        if (!stretches[kEntry].current) {
            // The first move shows the form the entry had: a move towards blocking
            // started from the allowed form, and the other way round.
            const bool towards_allowed = which >= 0 && ((which < 2) == set);
            for (int i = 0; i < 4; ++i) entry_present[i] = (i < 2) != towards_allowed;
            change(kEntry, form(), first_t.value_or(t));
        }
        if (which < 0) {
            for (auto& present : entry_present) present = false;
        } else {
            entry_present[which] = set;
        }
        change(kEntry, form(), t);
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

    void add(const Json& e) {
        if (!e.is_object()) throw BadEvent("not a JSON object");
        const long long t = whole(e, "t");
        const std::string& ev = text(e, "ev");
        if (ev == "sound")
            on_sound(e, t);
        else if (ev == "vibrate")
            on_vibrate(e, t);
        else if (ev == "key")
            on_key(e, t);
        else if (ev == "power") {
            const std::string state = "power " + text(e, "state");
            if (!stretches[kPower].current) change(kPower, "power on", first_t.value_or(t));
            change(kPower, state, t);
        } else if (ev == "keypad") {
            const bool locked = flag(e, "locked");
            if (!stretches[kKeypad].current)
                change(kKeypad, locked ? "keypad unlocked" : "keypad locked", first_t.value_or(t));
            change(kKeypad, locked ? "keypad locked" : "keypad unlocked", t);
        } else if (ev == "reg.set" || ev == "reg.delete")
            on_registry(e, t, ev == "reg.set");
        else if (ev == "timer.set" || ev == "timer.kill")
            on_timer(e, t, ev == "timer.set");
        else if (ev == "process.start" || ev == "process.exit")
            on_process(e, t, ev == "process.start");
        else if (ev == "mail.connect") {
            const bool ok = flag(e, "ok");
            if (!mail_runs.empty()) slices[mail_runs.back()].args["connected"] = ok;
        } else if (ev == "dialog.open" || ev == "dialog.close")
            on_dialog(e, t, ev == "dialog.open");
        else if (ev == "msgbox") {
            Slice box{kProgram, t, t, "message box", Json{{"caption", text(e, "caption")}, {"text", text(e, "text")}}};
            box.instant = true;
            push(std::move(box));
        }
        // Other kinds (window, shell file and debug events) have no track of their own.
        if (!first_t) first_t = t;
        // The phone boots "on"; the stretch starts with the log.
        if (!stretches[kPower].current) change(kPower, "power on", *first_t);
        // A pulse is logged when it stops, so the log has reached its end.
        last_t = std::max(last_t, ev == "vibrate" ? t + e.at("ms").get<long long>() : t);
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

namespace {

Json trace_event(const Slice& s) {
    Json e = Json::object();
    e["name"] = s.name;
    e["ph"] = s.instant ? "i" : "X";
    e["ts"] = s.start * 1000;
    if (s.instant)
        e["s"] = "t";
    else
        e["dur"] = (*s.end - s.start) * 1000;
    e["pid"] = kPid;
    e["tid"] = static_cast<int>(s.track);
    if (!s.args.empty()) e["args"] = s.args;
    return e;
}

// Orders a track's slices by start, an enclosing slice before what it holds, and cuts a
// slice that would outlast the one around it, so that the track's slices nest.
void nest(std::vector<Slice*>& track) {
    std::stable_sort(track.begin(), track.end(), [](const Slice* a, const Slice* b) {
        return a->start != b->start ? a->start < b->start : *a->end > *b->end;
    });
    std::vector<long long> ends;
    for (Slice* s : track) {
        while (!ends.empty() && ends.back() <= s->start) ends.pop_back();
        if (s->instant) continue;
        if (!ends.empty() && *s->end > ends.back()) {
            s->args["cut_to_enclosing_ms"] = *s->end - ends.back();
            s->end = ends.back();
        }
        ends.push_back(*s->end);
    }
}

}  // namespace

void TraceBuilder::write(std::ostream& out) {
    State& s = *state_;
    const long long end = s.last_t;
    for (Reminder& r : s.reminders) {
        long long last = s.slices[r.slice].start;
        for (std::size_t m : r.members) last = std::max(last, *s.slices[m].end);
        s.slices[r.slice].end = last;
    }
    for (auto& [track, stretch] : s.stretches)
        if (stretch.current) s.push({track, stretch.since, std::max(end, stretch.since), *stretch.current});
    for (Slice& slice : s.slices) {
        if (slice.end) continue;
        slice.end = std::max(end, slice.start);
        slice.args["open_at_the_end_of_the_log"] = true;
    }
    s.tick_until(end, true);
    s.watch_since.reset();

    // Written event by event: a day's trace as one JSON tree would cost more than the
    // conversion itself.
    bool first = true;
    const auto put = [&](const Json& e) {
        out << (first ? "{\"traceEvents\":[\n" : ",\n") << e.dump(-1, ' ', false, Json::error_handler_t::replace);
        first = false;
    };
    put({{"name", "process_name"}, {"ph", "M"}, {"pid", kPid}, {"args", {{"name", "Quillon handset"}}}});
    std::map<Track, std::vector<Slice*>> tracks;
    for (const auto& [track, name] : kTrackNames) {
        put({{"name", "thread_name"},
             {"ph", "M"},
             {"pid", kPid},
             {"tid", static_cast<int>(track)},
             {"args", {{"name", name}}}});
        put({{"name", "thread_sort_index"},
             {"ph", "M"},
             {"pid", kPid},
             {"tid", static_cast<int>(track)},
             {"args", {{"sort_index", static_cast<int>(track)}}}});
        tracks[track];
    }
    for (Slice& slice : s.slices) tracks[slice.track].push_back(&slice);
    for (auto& [track, slices] : tracks) {
        nest(slices);
        // The watch ticks go in among the watch's slices, after a reminder given on the tick.
        std::size_t schedule = 0;
        long long tick = s.schedules.empty() ? 0 : s.schedules[0].since;
        const auto next_tick = [&]() -> std::optional<long long> {
            while (track == kWatch && schedule < s.schedules.size()) {
                const Schedule& w = s.schedules[schedule];
                tick += w.period;
                if (tick < w.until || (w.inclusive && tick == w.until)) return tick;
                if (++schedule < s.schedules.size()) tick = s.schedules[schedule].since;
            }
            return std::nullopt;
        };
        std::optional<long long> t = next_tick();
        for (std::size_t i = 0; i <= slices.size(); ++i) {
            for (; t && (i == slices.size() || *t < slices[i]->start); t = next_tick()) {
                out << ",\n{\"name\":\"watch tick\",\"ph\":\"i\",\"ts\":" << *t * 1000
                    << ",\"s\":\"t\",\"pid\":" << kPid << ",\"tid\":" << static_cast<int>(kWatch) << "}";
            }
            if (i < slices.size()) put(trace_event(*slices[i]));
        }
    }
    std::stable_sort(s.counters.begin(), s.counters.end(),
                     [](const CounterSample& a, const CounterSample& b) { return a.t < b.t; });
    for (const CounterSample& c : s.counters)
        put({{"name", c.name},
             {"ph", "C"},
             {"ts", c.t * 1000},
             {"pid", kPid},
             {"tid", static_cast<int>(kCounters)},
             {"args", {{"count", c.value}}}});
    out << "\n],\n\"displayTimeUnit\":\"ms\"}\n";
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

}  // namespace handset::frontend
