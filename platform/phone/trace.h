// A run of the phone as a timeline: the event log converted to the trace event format
// (a JSON object with "traceEvents") that the standard trace viewers open offline.
//
// The trace is one process with a thread per track: the program (its runs and dialogs),
// the program's watch (ticks and reminders), sound, vibration, keys, the phone's power
// state, keypad and 3G entry, and the mail client; the missed-call, unread-SMS and
// active-call counts are counters. Every slice is a complete event ("X") with its
// duration, and the slices of one track nest.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/handset/core/json.h"

namespace phone {

// `quillon trace`: the trace was written, but some lines of the log could not be read.
constexpr int kExitSomeLinesBad = 3;

// Builds a trace from events in the order the log has them. Not thread-safe: a sink of
// the event log calls it under the log's own lock.
class TraceBuilder {
public:
    TraceBuilder();
    ~TraceBuilder();
    TraceBuilder(const TraceBuilder&) = delete;
    TraceBuilder& operator=(const TraceBuilder&) = delete;

    // Adds one event; false with `error` set when it lacks a field its kind needs, in
    // which case nothing of it is taken.
    bool add(const handset::Json& event, std::string& error);
    // Writes the trace of every event added, once, after the last one. Whatever is still
    // open (a dialog, a stretch of a state) ends at the last moment the log reached.
    void write(std::ostream& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Writes the trace of `builder` to `path`; false with `error` set when it cannot.
bool write_trace(const std::string& path, TraceBuilder& builder, std::string& error);

}  // namespace phone
