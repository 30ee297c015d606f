// Fuzzes `quillon trace`'s reading of an event log: any bytes give a trace that keeps
// the rules the viewers rely on, and every line that is not blank is either converted,
// named as unreadable, counted as a command's output, or the cut-short last line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/cli/log/log_lines.h"
#include "platform/cli/trace/trace_log.h"
#include "tests/common/trace_rules.h"

using namespace phone;
using namespace cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string log(reinterpret_cast<const char*>(data), size);
    std::istringstream in(log);
    TraceBuilder builder;
    const LogTrace converted = trace_from_log(in, builder);

    long lines = 0;
    std::istringstream again(log);
    read_log_lines(again, [&](const LogLine&) { ++lines; });
    if (converted.events + static_cast<long>(converted.bad_lines.size()) + converted.command_output +
            (converted.cut_last_line ? 1 : 0) !=
        lines)
        std::abort();
    for (const LogProblem& p : converted.bad_lines)
        if (p.line < 1 || p.message.empty()) std::abort();

    std::ostringstream out;
    builder.write(out);
    const handset::Json trace = handset::Json::parse(out.str(), nullptr, false);
    if (trace.is_discarded()) {
        std::fprintf(stderr, "the trace is not JSON\n");
        std::abort();
    }
    if (const std::string broken = qtest::trace_rule_broken(trace); !broken.empty()) {
        std::fprintf(stderr, "%s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
