// Reading an event log into a trace line by line: where a log's unreadable lines are
// told apart from the cut-short last line of a killed run, and from the output of the
// commands a headless run printed among its events.
#include "platform/cli/trace/trace_log.h"

#include "platform/cli/log/log_lines.h"

using namespace handset;
using namespace phone;

namespace cli {

namespace {

// What a headless phone prints between its events, as the answer to a command: the
// screen's and `reg get`'s text, and `controls`' JSON, an object with no `ev` and no
// `t`. A line that only looks broken (an object or array that does not parse) is no
// command's output.
bool command_output(std::string_view text, const std::optional<Json>& value) {
    if (value) return value->is_object() && !value->contains("ev") && !value->contains("t");
    const std::size_t first = text.find_first_not_of(" \t");
    return first != std::string_view::npos && text[first] != '{' && text[first] != '[';
}

}  // namespace

LogTrace trace_from_log(std::istream& in, TraceBuilder& builder) {
    LogTrace out;
    read_log_lines(in, [&](const LogLine& line) {
        std::string error;
        const std::optional<Json> event = parse_log_line(line.text, error);
        if (command_output(line.text, event) && line.ended)
            ++out.command_output;
        else if (!event && !line.ended)
            out.cut_last_line =
                LogProblem{line.number, "the last line is cut short, as a killed run leaves it; skipped"};
        else if (!event)
            out.bad_lines.push_back({line.number, "not JSON: " + error});
        else if (builder.add(*event, error))
            ++out.events;
        else
            out.bad_lines.push_back({line.number, "not an event of the log: " + error});
    });
    return out;
}

}  // namespace cli
