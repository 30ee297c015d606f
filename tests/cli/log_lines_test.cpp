// Reading an event log line by line, as the trace tool and the monkey do: which lines
// count, how they are numbered, and how the last line and a cut-short one are told.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/cli/log/log_lines.h"

using cli::LogLine;

namespace {

// "NUMBER TEXT", then " last" and " cut" where they hold.
std::string describe(const LogLine& line) {
    return std::to_string(line.number) + " " + std::string(line.text) + (line.last ? " last" : "") +
           (line.ended ? "" : " cut");
}

TEST(LogLines, BlankLinesAreSkippedAndTheLastAndACutLineAreTold) {
    struct Case {
        std::string log;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\n\n \t\nb\r\n", {"1 a", "4 b last"}},
        {"a\nb", {"1 a", "2 b last cut"}},
        {"a\n \n", {"1 a"}},  // a blank line follows it: not the last
        {"", {}},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.log);
        std::vector<std::string> seen;
        cli::read_log_lines(in, [&](const LogLine& line) { seen.push_back(describe(line)); });
        EXPECT_EQ(seen, c.lines) << c.log;
    }
    // Lines split beforehand read alike, each with its break.
    std::vector<std::string> seen;
    cli::read_log_lines(std::vector<std::string>{"a", "", "b\r"},
                                      [&](const LogLine& line) { seen.push_back(describe(line)); });
    EXPECT_EQ(seen, (std::vector<std::string>{"1 a", "3 b last"}));
}

TEST(LogLines, ALineThatIsNotJsonSaysWhyWithoutTheParsersPrefix) {
    std::string error;
    EXPECT_EQ(cli::parse_log_line(R"({"t":1,"ev":"key"})", error),
              handset::Json({{"t", 1}, {"ev", "key"}}));
    EXPECT_FALSE(cli::parse_log_line(R"({"t":1,)", error));
    EXPECT_TRUE(error.starts_with("parse error")) << error;
    EXPECT_FALSE(cli::parse_log_line(R"({"t":1e400})", error));
    EXPECT_TRUE(error.starts_with("number overflow")) << error;
}

}  // namespace
