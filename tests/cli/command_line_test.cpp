// The `quillon` command line itself: which companion an argument list reaches, what
// reaches it untouched, and the refusals of lists that do not fit; none starts a phone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/temp_dir.h"
#include "res/version.h"

namespace {

using qtest::run_quillon;

TEST(CommandLine, ArgumentsReachTheirCompanion) {
    qtest::TempDir dir;
    const std::string device = dir.file("device");
    const std::string events = dir.file("events.jsonl");
    qtest::write_file(events, "");
    ASSERT_EQ(run_quillon({"--headless", "--no-start", "--device", device, "--script", "/dev/null"}).status, 0);
    const std::string mistyped = dir.file("devcie");
    struct Case {
        std::vector<std::string> args;
        int status;
        bool on_stdout;  // where `says` is looked for; stderr otherwise
        std::string says;
    };
    const Case cases[] = {
        {{"--help"}, 0, true, "Companions:"},
        {{"--version"}, 0, true, "quillon " QUILLON_VERSION "\n"},
        {{"monkey", "--help"}, 0, true, "--watchdog"},
        {{"trace", "--help"}, 0, true, "-o,--output"},
        // The registry tool reads its own dashes and --help, after --device on either side.
        {{"--device", device, "reg", "-?"}, 0, true, "quillon reg query"},
        {{"reg", "--device", device, "--help"}, 0, true, "quillon reg query"},
        {{"reg", "--device", device, "query", "x", "--device", device}, 1, false, "unknown option --device"},
        // Only the phone makes a device: a mistyped folder is an error for the companions.
        {{"--device", mistyped, "reg", "query", "HKCU\\Software"}, 1, false, "no device at " + mistyped},
        {{"--device", mistyped, "reg", "/?"}, 0, true, "quillon reg query"},
        {{"--device", mistyped, "ctl", "screen"}, 1, false, "no device at " + mistyped},
        {{"--device=" + mistyped, "ctl", "screen"}, 1, false, "no device at " + mistyped},
        {{"--device", device, "ctl"}, 2, false, "give a handset command"},
        {{"ctl", "--help"}, 0, true, "quillon ctl help"},
        {{"--device", mistyped, "ctl", "help"}, 0, true, "missed N|+N"},
        {{"ctrl", "screen"}, 2, false, "unknown companion `ctrl`"},
        {{"--headless", "--device", device, "ctrl"}, 2, false, "unknown companion `ctrl`"},
        {{"--headless", "--device", device, "ctl", "screen"}, 1, false, "no Quillon instance runs"},
        // However the help is asked for, its usage line offers a companion.
        {{"--headless", "-h"}, 0, true, "[OPTIONS] [COMPANION]"},
        {{"ctl", "--device", device, "screen", "--help"}, 2, false, "too many arguments for `screen`"},
        {{"--device", device, "monkey"}, 2, false, "the phone's options do not apply"},
        {{"monkey", "--runs", "0"}, 2, false, "--runs"},
        {{"monkey", "--seed", "7", "--device", events}, 2, false, "--device " + events + " is not a folder"},
        {{"trace", events}, 2, false, "--output is required"},
        // After a companion's name, another's is one of its arguments.
        {{"trace", events, "-o", dir.file("run.json"), "reg"}, 2, false, "not expected: reg"},
        {{"--model", "xx", "reg", "query"}, 2, false, "--model"},
        {{"--bogus"}, 2, false, "not expected: --bogus"},
        {{"--devices", device, "--headless"}, 2, false, "--devices"},
        // One range and one error for --speed and the `speed` command.
        {{"--speed", "0", "--headless", "--script", "/dev/null"}, 2, false, "the speed factor must be a number from 0.01 to 1000, not `0`"},
        {{"--speed", "5000", "--headless", "--script", "/dev/null"}, 2, false, "from 0.01 to 1000, not `5000`"},
        {{"--speed", "1e-9", "--headless", "--script", "/dev/null"}, 2, false, "from 0.01 to 1000, not `1e-9`"},
        {{"--scale", "3"}, 2, false, "--scale sets the size of the phone window; it needs --window"},
        {{"--child-program"}, 2, false, "--child-program needs --device and --exe-path"},
    };
    for (const Case& c : cases) {
        const qtest::Result r = run_quillon(c.args);
        EXPECT_FALSE(std::filesystem::exists(mistyped)) << "a companion made a device";
        const std::string said = c.on_stdout ? r.out : r.err;
        std::string line;
        for (const std::string& arg : c.args) line += " " + arg;
        EXPECT_EQ(r.status, c.status) << "quillon" << line << "\n" << r.err;
        EXPECT_NE(said.find(c.says), std::string::npos) << "quillon" << line << "\n" << said;
    }
}

// The help lists every option a user may give, and none of the ones hosts give.
TEST(CommandLine, HelpListsTheUsersOptions) {
    const std::string help = run_quillon({"--help"}).out;
    for (const char* name :
         {"--device", "--model", "--reset", "--exe-path", "--headless", "--window", "--scale", "--layout", "--script",
          "--log", "--record", "--trace", "--clock", "--speed", "--no-start", "--version"})
        EXPECT_NE(help.find(std::string("  ") + name + " "), std::string::npos) << name << "\n" << help;
    for (const char* name : {"--child-program", "--time-origin", "--command-table"})
        EXPECT_EQ(help.find(name), std::string::npos) << name << "\n" << help;
    for (const char* companion : {"] reg ", "] ctl ", "quillon trace ", "quillon monkey "})
        EXPECT_NE(help.find(companion), std::string::npos) << companion << "\n" << help;
}

}  // namespace
