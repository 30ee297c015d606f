// Reading an event log line by line (see log_lines.h).
#include "platform/cli/log/log_lines.h"

#include <istream>

using namespace handset;

namespace cli {
namespace {

// `line` without a carriage return at its end; nothing when it is blank.
std::optional<std::string_view> content(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return std::nullopt;
    return line;
}

}  // namespace

void read_log_lines(std::istream& in, const std::function<void(const LogLine&)>& take) {
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        const bool ended = !in.eof();
        const bool last = !ended || in.peek() == std::istream::traits_type::eof();
        if (const auto text = content(line)) take({number, *text, last, ended});
    }
}

void read_log_lines(const std::vector<std::string>& lines, const std::function<void(const LogLine&)>& take) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (const auto text = content(lines[i])) take({static_cast<long>(i + 1), *text, i + 1 == lines.size(), true});
}

std::optional<Json> parse_log_line(std::string_view text, std::string& error) {
    try {
        return Json::parse(text);
    } catch (const Json::exception& e) {  // a parse error, or a number too large for a double
        error = e.what();
        // nlohmann's own prefix ("[json.exception.parse_error.101] ") says nothing to a reader.
        if (const std::size_t close = error.find("] "); error.starts_with("[json.") && close != std::string::npos)
            error.erase(0, close + 2);
        return std::nullopt;
    }
}

}  // namespace cli
