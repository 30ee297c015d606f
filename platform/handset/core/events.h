// The event log: every observable act of the phone as one JSON object per line.
//
// Services call emit() with an event kind and its fields; the log stamps it with the
// handset time ("t", milliseconds since the emulator started) and hands the line to
// every sink. Sinks are the front end's output (stdout or --log), the terminal's panel
// and, in tests, a recorder. emit() may be called from any thread; lines keep the
// order in which emit() was called.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// Event fields are UTF-8 while the phone's texts are UTF-16: whoever emits one needs
// the other.
#include "platform/handset/core/utf.h"

namespace handset {

using Json = nlohmann::ordered_json;

class EventLog {
public:
    using Sink = std::function<void(const std::string& line, const Json& event)>;

    // Registers a sink; returns an id for remove_sink().
    int add_sink(Sink sink);
    void remove_sink(int id);

    // Stamps `fields` with "t" and "ev" (in front of the other fields) and delivers it.
    void emit(const char* kind, Json fields = Json::object());
    // Same, with an explicit time stamp (a vibration is reported when it stops, with
    // the time it started).
    void emit_at(long long t_ms, const char* kind, Json fields = Json::object());

private:
    std::mutex mu_;
    std::vector<std::pair<int, Sink>> sinks_;
    int next_id_ = 1;
};

// The process's event log.
EventLog& events();

}  // namespace handset
