// The phone's plain command line, read without CLI11: it must read exactly as CLI11
// reads it, and every line it is not sure of must be left to CLI11.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cli/options/phone_options.h"

namespace {

using cli::PhoneOptions;

TEST(PhoneOptions, PlainLinesReadAsCli11ReadsThem) {
    struct Case {
        std::vector<std::string> args;
        bool plain;  // read without CLI11
    };
    const Case cases[] = {
        {{}, true},
        {{"--headless", "--device", "d", "--script", "s.txt"}, true},
        {{"--headless", "--device=d", "--script=a=b", "--log", "l", "--trace", "t", "--no-start"}, true},
        {{"--window", "--record", "r", "--reset", "--layout", "--device", "dir with spaces/x"}, true},
        // What CLI11 reads its own way, or refuses with its own words.
        {{"--headless", "--headless"}, false},
        {{"--device", "a", "--device", "b"}, false},
        {{"--headless=true"}, false},
        {{"--device"}, false},
        {{"--device="}, false},
        {{"--device", "-x"}, false},
        {{"--log", "-"}, false},
        {{"--device", "reg"}, false},  // the registry tool, on the default device
        {{"--headless", "ctl", "screen"}, false},
        {{"--scale", "2", "--window"}, false},
        {{"--model", "ktf"}, false},
        {{"--exe-path", "\\Windows\\x.exe"}, false},
        {{"--child-program"}, false},
        {{"--help"}, false},
        {{"-h"}, false},
        {{"--"}, false},
        {{"--bogus"}, false},
        {{"--devices", "d"}, false},
        {{"d"}, false},
    };
    for (const Case& c : cases) {
        std::string line;
        std::vector<const char*> argv{"quillon"};
        for (const std::string& arg : c.args) {
            line += " " + arg;
            argv.push_back(arg.c_str());
        }
        const std::span<const char* const> args(argv.begin() + 1, argv.end());
        PhoneOptions plain;
        EXPECT_EQ(cli::read_plain_phone_words(args, plain), c.plain) << "quillon" << line;
        if (!c.plain) continue;
        CLI::App app;
        PhoneOptions read;
        cli::add_phone_options(app, read, cli::CommandWords(args));
        try {
            app.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const CLI::ParseError& e) {
            ADD_FAILURE() << "quillon" << line << ": CLI11 refuses what was read without it: " << e.what();
            continue;
        }
        EXPECT_TRUE(plain == read) << "quillon" << line << ": CLI11 reads it otherwise";
    }
}

}  // namespace
