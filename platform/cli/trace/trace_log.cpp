// Reading an event log into a trace line by line: where a log's unreadable lines are
// told apart from the cut-short last line of a killed run.
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/cli/trace/trace_log.h"

namespace handset::frontend {

LogTrace trace_from_log(std::istream& in, TraceBuilder& builder) {
    LogTrace out;
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        const bool ended = !in.eof();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        Json event;
        try {
            event = Json::parse(line);
        } catch (const Json::parse_error& e) {
            std::string why = e.what();
            // nlohmann's own prefix ("[json.exception.parse_error.101] ") says nothing to a reader.
            if (const std::size_t close = why.find("] "); why.starts_with("[json.") && close != std::string::npos)
                why.erase(0, close + 2);
            if (!ended) {
                out.cut_last_line =
                    LogProblem{number, "the last line is cut short, as a killed run leaves it; skipped"};
                break;
            }
            out.bad_lines.push_back({number, "not JSON: " + why});
            continue;
        }
        std::string error;
        if (builder.add(event, error))
            ++out.events;
        else
            out.bad_lines.push_back({number, "not an event of the log: " + error});
    }
    return out;
}

}  // namespace handset::frontend
