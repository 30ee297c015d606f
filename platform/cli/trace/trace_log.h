// `quillon trace`'s reading side: an event log, one JSON object a line, turned into a
// trace by the builder of platform/phone/trace.h.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/phone/trace.h"

namespace cli {

struct LogProblem {
    long line = 0;
    std::string message;
};

struct LogTrace {
    long events = 0;                    // lines converted
    std::vector<LogProblem> bad_lines;  // lines skipped as unreadable
    // Lines a command printed between the events of a headless run's output (the
    // screen, `controls`, `reg get`), skipped.
    long command_output = 0;
    // A last line without its line break that does not parse: what a killed run leaves.
    // It is skipped, and is not counted among the bad lines.
    std::optional<LogProblem> cut_last_line;
};

// Adds the events of a log, one JSON object a line, to `builder`; blank lines and the
// output of commands are skipped.
LogTrace trace_from_log(std::istream& in, phone::TraceBuilder& builder);

}  // namespace cli
