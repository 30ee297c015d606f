// Reading an event log, one JSON object a line, as `quillon trace` and `quillon monkey`
// both do: lines numbered from 1, blank ones passed over, each parsed on its own, and
// the last line told apart, since a killed run may leave it cut short.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handset/core/json.h"

namespace cli {

// A line of an event log that is not blank.
struct LogLine {
    long number = 0;        // from 1
    std::string_view text;  // without its line break and a carriage return before it
    bool last = false;      // no line follows it
    bool ended = true;      // it has its line break, which a cut-short last line lacks
};

// Hands each line of `in` that is not blank to `take`, in order.
void read_log_lines(std::istream& in, const std::function<void(const LogLine&)>& take);
// The same for a log already split into lines (without their breaks), each taken as ended.
void read_log_lines(const std::vector<std::string>& lines, const std::function<void(const LogLine&)>& take);

// The JSON value of a line; nothing when it is not JSON, with `error` saying why.
std::optional<handset::Json> parse_log_line(std::string_view text, std::string& error);

}  // namespace cli
