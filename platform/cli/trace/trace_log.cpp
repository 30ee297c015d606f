// Reading an event log into a trace line by line: where a log's unreadable lines are
// told apart from the cut-short last line of a killed run.
#include "platform/cli/trace/trace_log.h"

#include "platform/cli/log/log_lines.h"

namespace handset::frontend {

LogTrace trace_from_log(std::istream& in, TraceBuilder& builder) {
    LogTrace out;
    read_log_lines(in, [&](const LogLine& line) {
        std::string error;
        const std::optional<Json> event = parse_log_line(line.text, error);
        if (!event && !line.ended)
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

}  // namespace handset::frontend
