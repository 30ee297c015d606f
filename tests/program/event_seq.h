// Comparing a recorded event log with a table of expected events, in the manner of
// ok_seq: each entry names an event kind and the fields that matter (others are not
// compared); only events of the table's kinds, plus any extra kinds named, take part;
// an optional entry may be missing. Failures are reported at the caller's line with
// both sequences.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <source_location>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace seqtest {

using Json = nlohmann::ordered_json;

struct Expected {
    std::string ev;
    Json fields = Json::object();
    bool optional = false;
};

inline std::vector<Json> OfKinds(const std::vector<Json>& log, const std::set<std::string>& kinds) {
    std::vector<Json> out;
    for (const Json& e : log)
        if (kinds.count(e.value("ev", ""))) out.push_back(e);
    return out;
}

inline bool Matches(const Json& event, const Expected& want) {
    if (event.value("ev", "") != want.ev) return false;
    for (const auto& [name, value] : want.fields.items())
        if (!event.contains(name) || event.at(name) != value) return false;
    return true;
}

// With an empty table: no event of `kinds` may occur.
inline void ok_seq_of(const std::vector<Json>& log, const std::vector<Expected>& table, std::set<std::string> kinds,
                      const std::string& context, std::source_location where = std::source_location::current()) {
    for (const Expected& e : table) kinds.insert(e.ev);
    const std::vector<Json> seen = OfKinds(log, kinds);
    auto report = [&](const std::string& what) {
        std::string text = context + ": " + what + "\n  expected:\n";
        for (const Expected& e : table) text += "    " + e.ev + " " + e.fields.dump() + (e.optional ? " (optional)\n" : "\n");
        text += "  recorded:\n";
        for (const Json& e : seen) text += "    " + e.dump() + "\n";
        ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << text;
    };
    std::size_t at = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (at < seen.size() && Matches(seen[at], table[i])) ++at;
        else if (!table[i].optional) return report("entry " + std::to_string(i) + " not matched");
    }
    if (at != seen.size()) report("unexpected " + seen[at].dump());
}

inline void ok_seq(const std::vector<Json>& log, const std::vector<Expected>& table, const std::string& context,
                   std::source_location where = std::source_location::current()) {
    ok_seq_of(log, table, {}, context, where);
}

}  // namespace seqtest
