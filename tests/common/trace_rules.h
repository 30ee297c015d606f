// The rules of the trace event format that the viewers rely on, checked on a whole
// trace: every track is named; on each track the time stamps never go back, each B has
// its E and complete slices nest; counters hold numbers; no other phase is used. The
// trace tests and the trace fuzz target both check them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/handset/core/json.h"

namespace qtest {

// The first rule `trace` breaks, with the event that breaks it; empty when it keeps them.
inline std::string trace_rule_broken(const handset::Json& trace) {
    using handset::Json;
    if (!trace.is_object() || !trace.contains("traceEvents") || !trace["traceEvents"].is_array())
        return "no traceEvents array";
    const Json& events = trace["traceEvents"];
    std::map<long long, std::string> names;
    for (const Json& e : events) {
        if (!e.is_object() || !e.contains("ph") || !e["ph"].is_string()) return "an event without its phase: " + e.dump();
        if (e["ph"] == "M" && e.value("name", "") == "thread_name") {
            if (!e.contains("tid") || !e["tid"].is_number_integer()) return "a track name without its track: " + e.dump();
            names[e["tid"].get<long long>()] = e.contains("args") ? e["args"].value("name", "") : "";
        }
    }
    std::map<long long, long long> last_ts;
    std::map<long long, std::vector<std::string>> begun;
    std::map<long long, std::vector<long long>> enclosing;
    for (const Json& e : events) {
        const std::string ph = e["ph"];
        if (ph == "M") continue;
        const std::string where = ": " + e.dump();
        if (!e.contains("tid") || !e["tid"].is_number_integer() || !e.contains("ts") || !e["ts"].is_number_integer())
            return "an event without its track or time" + where;
        const long long tid = e["tid"];
        const long long ts = e["ts"];
        if (!names.count(tid)) return "an event on a track without a name" + where;
        if (ts < last_ts[tid]) return "a time stamp going back" + where;
        last_ts[tid] = ts;
        const std::string name = e.value("name", "");
        if (ph == "B") {
            begun[tid].push_back(name);
        } else if (ph == "E") {
            if (begun[tid].empty() || begun[tid].back() != name) return "an end without its begin" + where;
            begun[tid].pop_back();
        } else if (ph == "X") {
            if (!e.contains("dur") || !e["dur"].is_number_integer() || e["dur"].get<long long>() < 0)
                return "a slice without a length" + where;
            const long long end = ts + e["dur"].get<long long>();
            auto& ends = enclosing[tid];
            while (!ends.empty() && ends.back() <= ts) ends.pop_back();
            if (!ends.empty() && end > ends.back()) return "a slice overlapping the one around it" + where;
            ends.push_back(end);
        } else if (ph == "C") {
            if (!e.contains("args") || !e["args"].is_object()) return "a counter without values" + where;
            for (const auto& [key, value] : e["args"].items())
                if (!value.is_number()) return "a counter value that is no number" + where;
        } else if (ph != "i") {
            return "an unknown phase" + where;
        }
    }
    for (const auto& [tid, open] : begun)
        if (!open.empty()) return "track " + std::to_string(tid) + " left open";
    return {};
}

}  // namespace qtest
