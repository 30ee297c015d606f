// The timeline a trace is made of, and its writing in the trace event format: tracks
// of slices and instants, the watch's ticks and the counters' samples. The trace
// builder (trace.cpp) fills the timeline from the event log; this writes it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/handset/core/json.h"

namespace phone::timeline {

// The tracks, one thread of the trace each, in the order the viewer lists them.
enum Track : int { kProgram = 1, kWatch, kSound, kVibration, kKeys, kPower, kKeypad, kEntry, kMail, kCounters, kBattery };

struct Slice {
    Track track;
    long long start;
    std::optional<long long> end;  // nothing: still open; ends where the log ends
    std::string name;
    handset::Json args = handset::Json::object();
    bool instant = false;
};

struct CounterSample {
    const char* name;
    long long t;
    long long value;
};

// The watch timer ticks every `period` after `since`, up to `until`.
struct Schedule {
    long long since;
    long long period;
    long long until;
    bool inclusive;
};

// Writes the trace of a finished timeline (every slice ended): each track's slices,
// nested, with the watch's ticks of `schedules` among the watch's (as many as a week of
// the program's 3-second watch has, then an instant where they stop), then the counters.
void write_timeline(std::ostream& out, std::vector<Slice>& slices, const std::vector<Schedule>& schedules,
                    std::vector<CounterSample> counters);

}  // namespace phone::timeline
