// Writing a run's timeline as a trace (see timeline.h).
#include "platform/phone/timeline.h"

#include <algorithm>
#include <map>

using namespace handset;

namespace phone::timeline {
namespace {

constexpr std::pair<Track, const char*> kTrackNames[] = {
    {kProgram, "Program"},  {kWatch, "Program: watch"}, {kSound, "Sound"},          {kVibration, "Vibration"},
    {kKeys, "Keys"},        {kPower, "Phone: power"},   {kKeypad, "Phone: keypad"}, {kEntry, "Phone: 3G"},
    {kMail, "Mail client"}, {kCounters, "Counters"},    {kBattery, "Phone: battery"},
};

constexpr int kPid = 1;
// A week of the program's 3-second watch: a log that makes more ticks (a timer of 1 ms,
// a time far off) would make a trace no viewer opens, and the trace marks where they stop.
constexpr std::size_t kMostTicks = 7 * 24 * 3600 / 3;

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

// The watch's ticks in order, schedule after schedule.
class Ticks {
public:
    explicit Ticks(const std::vector<Schedule>& schedules)
        : schedules_(schedules), tick_(schedules.empty() ? 0 : schedules[0].since) {}

    // The next tick into `tick`; false, and `tick` left as it was, once there are no more.
    // (Not an optional: gcc's check for uninitialised reads misjudged the guarded ones.)
    bool next(long long& tick) {
        while (schedule_ < schedules_.size()) {
            const Schedule& w = schedules_[schedule_];
            tick_ += w.period;
            if (tick_ < w.until || (w.inclusive && tick_ == w.until)) {
                ++given_;
                tick = tick_;
                return true;
            }
            if (++schedule_ < schedules_.size()) tick_ = schedules_[schedule_].since;
        }
        return false;
    }
    std::size_t given() const { return given_; }

private:
    const std::vector<Schedule>& schedules_;
    std::size_t schedule_ = 0;
    long long tick_;
    std::size_t given_ = 0;
};

// The trace file, written event by event: a day's trace as one JSON tree would cost
// more than the conversion itself.
class TraceWriter {
public:
    explicit TraceWriter(std::ostream& out) : out_(out) {}

    void put(const Json& e) {
        out_ << (first_ ? "{\"traceEvents\":[\n" : ",\n") << e.dump(-1, ' ', false, Json::error_handler_t::replace);
        first_ = false;
    }

    // The process and its tracks, by name and in the order of their numbers.
    void names() {
        put({{"name", "process_name"}, {"ph", "M"}, {"pid", kPid}, {"args", {{"name", "Quillon handset"}}}});
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
        }
    }

    // A track's slices, nested, with `ticks` among them: after a slice that starts at
    // the same moment (a reminder given on the tick).
    void track(std::vector<Slice*>& slices, Ticks ticks) {
        nest(slices);
        long long t = 0;
        bool more = ticks.next(t);
        for (std::size_t i = 0; i <= slices.size(); ++i) {
            for (; more && (i == slices.size() || t < slices[i]->start); more = ticks.next(t)) {
                if (ticks.given() > kMostTicks) {
                    put({{"name", "watch ticks not drawn from here on"},
                         {"ph", "i"},
                         {"ts", t * 1000},
                         {"s", "t"},
                         {"pid", kPid},
                         {"tid", static_cast<int>(kWatch)},
                         {"args", {{"most_ticks", kMostTicks}}}});
                    more = false;
                    break;
                }
                out_ << ",\n{\"name\":\"watch tick\",\"ph\":\"i\",\"ts\":" << t * 1000
                     << ",\"s\":\"t\",\"pid\":" << kPid << ",\"tid\":" << static_cast<int>(kWatch) << "}";
            }
            if (i < slices.size()) put(trace_event(*slices[i]));
        }
    }

    void counters(std::vector<CounterSample> samples) {
        std::stable_sort(samples.begin(), samples.end(),
                         [](const CounterSample& a, const CounterSample& b) { return a.t < b.t; });
        for (const CounterSample& c : samples)
            put({{"name", c.name},
                 {"ph", "C"},
                 {"ts", c.t * 1000},
                 {"pid", kPid},
                 {"tid", static_cast<int>(kCounters)},
                 {"args", {{"count", c.value}}}});
    }

    void end() { out_ << "\n],\n\"displayTimeUnit\":\"ms\"}\n"; }

private:
    std::ostream& out_;
    bool first_ = true;
};

}  // namespace

void write_timeline(std::ostream& out, std::vector<Slice>& slices, const std::vector<Schedule>& schedules,
                    std::vector<CounterSample> counters) {
    std::map<Track, std::vector<Slice*>> tracks;
    for (const auto& [track, name] : kTrackNames) tracks[track];
    for (Slice& slice : slices) tracks[slice.track].push_back(&slice);

    const std::vector<Schedule> no_schedules;
    TraceWriter writer(out);
    writer.names();
    for (auto& [track, members] : tracks) writer.track(members, Ticks(track == kWatch ? schedules : no_schedules));
    writer.counters(std::move(counters));
    writer.end();
}

}  // namespace phone::timeline
