// The manual page (packaging/quillon.1.in) held against the program: the options and
// companions that `quillon --help` and each companion's own help name, and the handset
// commands of the parser's table, are the ones the page describes, each way round.
// Names are compared, not wording, so the help's layout may change freely.
#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "common/build_paths.h"
#include "common/child_process.h"

namespace {

using Names = std::set<std::string>;

// An option word: `--long` or `-x`, or a `/x` switch of the registry tool, standing
// alone (not inside a path or a hyphenated word).
const std::regex kOption(R"((?:^|[\s\[,|(])(--?[a-z][a-z0-9-]*|/[a-z]{1,2})(?=[\s\],|)=:]|$))");

Names options_in(const std::string& text) {
    Names names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kOption); it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}

// The leading lowercase words of a usage line: `reg set` of "reg set KEY NAME TYPE:DATA".
std::string command_name(const std::string& usage) {
    static const std::regex kWord("[a-z][a-z-]*");
    std::istringstream words(usage);
    std::string name;
    for (std::string word; words >> word && std::regex_match(word, kWord);)
        name += (name.empty() ? "" : " ") + word;
    return name;
}

// Companions the top-level help names: a "Subcommands:" list, or lines of the form
// `quillon [--option ARG]... NAME ...`.
Names companions_in(const std::string& help) {
    static const std::regex usage(R"(^\s*\S*quillon(?:\s+\[[^\]]*\])*\s+([a-z][a-z-]*)(?:\s|$))");
    static const std::regex subcommands(R"(\s*Subcommands:\s*)", std::regex::icase);
    static const std::regex list_entry(R"(^\s+([a-z][a-z-]*))");
    Names names;
    bool in_list = false;
    std::smatch m;
    for (const std::string& line : qtest::lines_of(help)) {
        if (std::regex_match(line, subcommands)) {
            in_list = true;
            continue;
        }
        if (in_list && std::regex_search(line, m, list_entry)) {
            names.insert(m[1]);
            continue;
        }
        in_list = false;
        if (std::regex_search(line, m, usage)) names.insert(m[1]);
    }
    return names;
}

// The page's text as it reads: font changes, escapes and quotes taken out, `\-` as `-`.
std::string plain_roff(std::string line) {
    // Compiled once: the page has some 300 lines, and the tests' own code is not optimised.
    static const std::array<std::pair<std::regex, const char*>, 7> kRewrites{{
        {std::regex(R"(\\f[BIRP])"), ""},
        {std::regex(R"(\\-)"), "-"},
        {std::regex(R"(\\e)"), "\\"},
        {std::regex(R"(\\\(aq)"), "'"},
        {std::regex(R"(\\&)"), ""},
        {std::regex(R"(^\.[A-Z]+\s*)"), ""},
        {std::regex("\""), ""},
    }};
    for (const auto& [pattern, replacement] : kRewrites) line = std::regex_replace(line, pattern, replacement);
    return line;
}

struct ManualPage {
    Names options;
    Names companions;  // the `.SS "quillon NAME"` headings
    Names commands;    // the tags of HANDSET COMMANDS
};

ManualPage read_page() {
    ManualPage page;
    std::string section;
    bool tag_next = false;
    static const std::regex section_heading(R"(^\.SH\s+"?([^"]*))");
    static const std::regex companion_heading(R"(^\.SS\s+"?quillon\s+([a-z][a-z-]*))");
    std::smatch m;
    for (const std::string& line :
         qtest::lines_of(qtest::read_file(std::string(qtest::kSourceDir) + "/packaging/quillon.1.in"))) {
        if (line.starts_with(".\\\"")) continue;
        if (std::regex_search(line, m, section_heading)) section = m[1];
        if (std::regex_search(line, m, companion_heading)) page.companions.insert(m[1]);
        const std::string text = plain_roff(line);
        if (tag_next && section == "HANDSET COMMANDS") page.commands.insert(command_name(text));
        tag_next = line == ".TP";
        page.options.merge(options_in(text));
    }
    return page;
}

// The names of `a` that `b` lacks, one a line.
std::string missing_from(const Names& a, const Names& b) {
    std::string out;
    for (const auto& name : a)
        if (!b.contains(name)) out += name + "\n";
    return out;
}

class ManualPageTest : public ::testing::Test {
protected:
    // The companions' help must not make a device in the user's home.
    void SetUp() override { ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

    qtest::TempDir state_{"manpage"};
    ManualPage page_ = read_page();
};

TEST_F(ManualPageTest, DescribesEveryOptionAndCompanionOfTheHelp) {
    const qtest::Result top = qtest::run_quillon({"--help"});
    ASSERT_EQ(top.status, 0) << top.err;
    Names options = options_in(top.out);
    const Names companions = companions_in(top.out);
    ASSERT_FALSE(companions.empty()) << "no companion found in quillon --help:\n" << top.out;
    for (const std::string& companion : companions) {
        // A companion that takes no --help (ctl runs its words as a handset command)
        // has its options in the top-level help.
        const qtest::Result help = qtest::run_quillon({companion, "--help"});
        if (help.status == 0) options.merge(options_in(help.out));
    }
    EXPECT_EQ(missing_from(options, page_.options), "") << "options the help names and the manual page does not";
    EXPECT_EQ(missing_from(page_.options, options), "") << "options the manual page names and no help does";
    EXPECT_EQ(missing_from(companions, page_.companions), "") << "companions without a section in the manual page";
    EXPECT_EQ(missing_from(page_.companions, companions), "") << "manual page sections for companions the help lacks";
}

TEST_F(ManualPageTest, ListsTheHandsetCommandsOfTheParser) {
    const qtest::Result table = qtest::run_quillon({"--command-table"});
    ASSERT_EQ(table.status, 0) << table.err;
    static const std::regex table_row(R"(^\| `([^`]+)`)");
    Names commands;
    std::smatch m;
    for (const std::string& row : qtest::lines_of(table.out))
        if (std::regex_search(row, m, table_row)) commands.insert(command_name(m[1]));
    ASSERT_GT(commands.size(), 10u) << table.out;
    EXPECT_EQ(missing_from(commands, page_.commands), "") << "handset commands the manual page lacks";
    EXPECT_EQ(missing_from(page_.commands, commands), "") << "manual page entries the parser does not know";
}

}  // namespace
