// The handset command parser: the forms each command takes, and what a malformed line
// reports.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/build_paths.h"
#include "platform/phone/commands.h"
#include "platform/handset/core/events.h"

using namespace handset;
using namespace phone;

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

template <class T>
T parse_as(std::string_view text) {
    ParsedLine p = parse_line(text, 1);
    EXPECT_TRUE(p.ok()) << text << ": " << p.error;
    EXPECT_TRUE(p.command.has_value()) << text;
    if (!p.command || !std::holds_alternative<T>(*p.command)) {
        ADD_FAILURE() << text << " parsed as " << (p.command ? command_name(*p.command) : "nothing");
        return T{};
    }
    return std::get<T>(*p.command);
}

std::string error_of(std::string_view text) {
    ParsedLine p = parse_line(text, 7);
    EXPECT_FALSE(p.ok()) << text << " was accepted";
    EXPECT_FALSE(p.command.has_value()) << text;
    return p.error;
}

TEST(Durations, EveryUnit) {
    EXPECT_EQ(parse_as<cmd::Wait>("wait 500ms").ms, 500);
    EXPECT_EQ(parse_as<cmd::Wait>("wait 3s").ms, 3000);
    EXPECT_EQ(parse_as<cmd::Wait>("wait 2m").ms, 120'000);
    EXPECT_EQ(parse_as<cmd::Wait>("wait 1h").ms, 3'600'000);
    EXPECT_EQ(parse_as<cmd::Wait>("wait 41t").ms, 41 * 3000);
    EXPECT_EQ(parse_as<cmd::Wait>("wait 0ms").ms, 0);
}

TEST(Durations, MalformedOnesSayWhy) {
    EXPECT_NE(error_of("wait 500").find("unit"), std::string::npos);
    EXPECT_NE(error_of("wait 5d").find("unknown duration unit"), std::string::npos);
    EXPECT_NE(error_of("wait -5s").find("bad duration"), std::string::npos);
    EXPECT_NE(error_of("wait s").find("bad duration"), std::string::npos);
    EXPECT_NE(error_of("wait 1.5s").find("unknown duration unit"), std::string::npos);
    EXPECT_NE(error_of("wait 99999999999999999999ms").find("too long"), std::string::npos);
    EXPECT_NE(error_of("wait").find("needs"), std::string::npos);
    EXPECT_NE(error_of("wait 1s 2s").find("too many"), std::string::npos);
}

TEST(Counters, WriteTheirNumber) {
    auto m = parse_as<cmd::SetCounter>("missed 3");
    EXPECT_EQ(m.which, cmd::SetCounter::Which::MissedCalls);
    EXPECT_EQ(m.count, 3u);
    EXPECT_EQ(parse_as<cmd::SetCounter>("sms 0").which, cmd::SetCounter::Which::UnreadSms);
    EXPECT_EQ(parse_as<cmd::SetCounter>("call 4294967295").count, 4294967295u);
    EXPECT_NE(error_of("missed 4294967296").find("whole number"), std::string::npos);
    EXPECT_NE(error_of("sms -1").find("whole number"), std::string::npos);
    EXPECT_NE(error_of("call two").find("`two`"), std::string::npos);
    // `+N` adds to the count that is there when the command runs.
    const auto added = parse_as<cmd::SetCounter>("sms +2");
    EXPECT_TRUE(added.add);
    EXPECT_EQ(added.count, 2u);
    EXPECT_FALSE(parse_as<cmd::SetCounter>("sms 2").add);
    for (const char* bad : {"missed +", "missed ++1", "missed +-1", "missed +4294967296"})
        EXPECT_NE(error_of(bad).find("count to add"), std::string::npos) << bad;
}

TEST(Clock, SpeedTakesAFactorOrNone) {
    EXPECT_FALSE(parse_as<cmd::Speed>("speed").factor);
    EXPECT_EQ(parse_as<cmd::Speed>("speed 60").factor, 60.0);
    EXPECT_EQ(parse_as<cmd::Speed>("speed 0.5").factor, 0.5);
    EXPECT_EQ(parse_as<cmd::Speed>("speed 0.01").factor, 0.01);
    for (const char* bad : {"speed 0", "speed -1", "speed 1001", "speed 1e-9", "speed fast", "speed 10x", "speed nan"})
        EXPECT_NE(error_of(bad).find("speed factor"), std::string::npos) << bad;
    EXPECT_FALSE(error_of("speed 1 2").empty());
}

TEST(Registry, SetParsesKeyNameAndTypedValue) {
    auto c = parse_as<cmd::RegSet>(R"(reg set HKCU\Software\Quillon "enableCallAlert" dword:0x10)");
    EXPECT_EQ(c.key.root, RegRoot::CurrentUser);
    EXPECT_EQ(c.key.path, u"Software\\Quillon");
    EXPECT_EQ(c.name, u"enableCallAlert");
    EXPECT_EQ(c.type, REG_DWORD);
    EXPECT_EQ(c.data, dword_bytes(16));

    auto s = parse_as<cmd::RegSet>(R"(reg set HKCU\ControlPanel\Profiles ActiveProfile "sz:Very Silent")");
    EXPECT_EQ(s.type, REG_SZ);
    EXPECT_EQ(s.data, sz_bytes(u"Very Silent"));

    auto b = parse_as<cmd::RegSet>(R"(reg set "HKCU\Comm\RasBook\SKT IE GPRS" DevCfg hex:01,02,ff)");
    EXPECT_EQ(b.key.path, u"Comm\\RasBook\\SKT IE GPRS");
    EXPECT_EQ(b.type, REG_BINARY);
    EXPECT_EQ(b.data, (Bytes{1, 2, 0xff}));

    // The default value has an empty name.
    EXPECT_EQ(parse_as<cmd::RegSet>(R"(reg set HKLM\X "" dword:1)").name, u"");
}

TEST(Registry, DeleteAndGet) {
    auto key = parse_as<cmd::RegDelete>(R"(reg delete HKLM\Software\Old)");
    EXPECT_FALSE(key.name.has_value());
    EXPECT_EQ(key.key.root, RegRoot::LocalMachine);
    auto value = parse_as<cmd::RegDelete>(R"(reg delete HKLM\Software\Old "Missed Call Count")");
    EXPECT_EQ(value.name, std::optional<std::u16string>(u"Missed Call Count"));
    auto get = parse_as<cmd::RegGet>(R"(reg get HKCU\System\State\Phone "Missed Call Count")");
    EXPECT_EQ(get.name, u"Missed Call Count");
    EXPECT_EQ(get.key.path, u"System\\State\\Phone");
}

TEST(Registry, MalformedForms) {
    EXPECT_NE(error_of(R"(reg set HKXX\A n dword:1)").find("bad registry key"), std::string::npos);
    EXPECT_NE(error_of(R"(reg set HKCU\A n dword:zz)").find("bad value"), std::string::npos);
    EXPECT_NE(error_of(R"(reg set HKCU\A n)").find("KEY NAME TYPE:DATA"), std::string::npos);
    EXPECT_NE(error_of(R"(reg get HKCU\A)").find("KEY NAME"), std::string::npos);
    EXPECT_NE(error_of("reg delete HKCU").find("root"), std::string::npos);
    EXPECT_NE(error_of("reg list HKCU").find("unknown `reg` action"), std::string::npos);
    EXPECT_NE(error_of("reg").find("action"), std::string::npos);
}

TEST(Keys, NamesDigitsAndCodes) {
    EXPECT_EQ(parse_as<cmd::Press>("press left").vk, 112);
    EXPECT_EQ(parse_as<cmd::Press>("press right").vk, 113);
    EXPECT_EQ(parse_as<cmd::Press>("press back").vk, 27);
    EXPECT_EQ(parse_as<cmd::Press>("press enter").vk, 13);
    EXPECT_EQ(parse_as<cmd::Press>("press up").vk, 38);
    EXPECT_EQ(parse_as<cmd::Press>("press down").vk, 40);
    EXPECT_EQ(parse_as<cmd::Press>("press star").vk, 119);
    EXPECT_EQ(parse_as<cmd::Press>("press pound").vk, 120);
    EXPECT_EQ(parse_as<cmd::Press>("press 0").vk, '0');
    EXPECT_EQ(parse_as<cmd::Press>("press 9").vk, '9');
    EXPECT_EQ(parse_as<cmd::Press>("press vk:133").vk, 133);
    EXPECT_EQ(parse_as<cmd::Press>("press vk:0x85").vk, 133);
    EXPECT_NE(error_of("press vk:256").find("1 to 255"), std::string::npos);
    EXPECT_NE(error_of("press vk:0").find("1 to 255"), std::string::npos);
    EXPECT_NE(error_of("press 10").find("unknown key"), std::string::npos);
    EXPECT_NE(error_of("press home").find("unknown key `home`"), std::string::npos);
}

TEST(Phone, PowerDeviceMailAndFaults) {
    auto p = parse_as<cmd::Power>("power useridle");
    EXPECT_EQ(p.action, cmd::Power::Action::SetState);
    EXPECT_EQ(p.state, "useridle");
    EXPECT_EQ(parse_as<cmd::Power>("power button").action, cmd::Power::Action::Button);
    EXPECT_EQ(parse_as<cmd::Power>("power info").action, cmd::Power::Action::Info);
    EXPECT_NE(error_of("power on off").find("too many"), std::string::npos);

    EXPECT_EQ(parse_as<cmd::IdleTimeout>("device idle-timeout 45s").ms, std::optional<long long>(45'000));
    EXPECT_FALSE(parse_as<cmd::IdleTimeout>("device idle-timeout off").ms.has_value());
    EXPECT_NE(error_of("device idle-timeout 0s").find("off"), std::string::npos);
    EXPECT_NE(error_of("device volume 3").find("idle-timeout"), std::string::npos);

    EXPECT_TRUE(parse_as<cmd::Mail>("mail start").start);
    EXPECT_FALSE(parse_as<cmd::Mail>("mail close").start);
    EXPECT_NE(error_of("mail open").find("`open`"), std::string::npos);

    auto f = parse_as<cmd::SetFault>("fault registry write");
    EXPECT_EQ(f.fault, Fault::RegistryWrite);
    EXPECT_TRUE(f.on);
    EXPECT_FALSE(parse_as<cmd::SetFault>("fault power msgqueue off").on);
    const std::string unknown = error_of("fault disk full");
    EXPECT_NE(unknown.find("unknown fault point"), std::string::npos);
    EXPECT_NE(unknown.find("shell menubar"), std::string::npos);  // the known points are listed
    EXPECT_NE(error_of("fault shell menubar maybe").find("`maybe`"), std::string::npos);
}

TEST(Program, StartQuitAndDialogs) {
    EXPECT_FALSE(parse_as<cmd::Start>("start").exe_path.has_value());
    auto s = parse_as<cmd::Start>(R"(start --exe-path "\Storage Card\Quillon\Quillon.exe")");
    EXPECT_EQ(s.exe_path, std::optional<std::u16string>(u"\\Storage Card\\Quillon\\Quillon.exe"));
    EXPECT_NE(error_of("start --exe-path Quillon.exe").find("absolute device path"), std::string::npos);
    EXPECT_NE(error_of("start now").find("--exe-path"), std::string::npos);
    EXPECT_NE(error_of("quit now").find("too many"), std::string::npos);

    EXPECT_EQ(parse_as<cmd::DialogCommand>("command 32781").id, 32781u);
    EXPECT_EQ(parse_as<cmd::Click>("click 1013").id, 1013u);
    auto sel = parse_as<cmd::Select>("select 1016 2");
    EXPECT_EQ(sel.id, 1016u);
    EXPECT_EQ(sel.index, 2);
    EXPECT_NE(error_of("select 1016").find("INDEX"), std::string::npos);
    EXPECT_NE(error_of("click 70000").find("0 to 65535"), std::string::npos);
    parse_as<cmd::Screen>("screen");
    EXPECT_EQ(parse_as<cmd::Screenshot>(R"(screenshot "my shots/a.png")").path, "my shots/a.png");
    EXPECT_NE(error_of("screenshot").find("FILE.png"), std::string::npos);
    parse_as<cmd::Controls>("controls");
}

TEST(Lines, QuotingCommentsAndBlankLines) {
    std::vector<std::string> args;
    std::string error;
    ASSERT_TRUE(split_arguments(R"(reg set "HKCU\A B\C" "\Storage Card\" y)", args, error));
    // Inside quotes a backslash is literal: it does not escape the closing quote.
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[2], R"(HKCU\A B\C)");
    EXPECT_EQ(args[3], R"(\Storage Card\)");
    EXPECT_EQ(args[4], "y");

    ASSERT_TRUE(split_arguments(R"(profile sz:"Very Silent"x # a comment "unclosed)", args, error));
    EXPECT_EQ(args, (std::vector<std::string>{"profile", "sz:Very Silentx"}));
    ASSERT_TRUE(split_arguments("reg set HKCU\\A n sz:a#b", args, error));
    EXPECT_EQ(args.back(), "sz:a#b");  // only a `#` that starts an argument begins a comment

    EXPECT_FALSE(parse_line("   # nothing here", 3).command.has_value());
    EXPECT_TRUE(parse_line("", 3).ok());
    EXPECT_TRUE(parse_line("\t missed\t2  ", 3).command.has_value());
    EXPECT_EQ(error_of(R"(profile "Silent)"), "unterminated quote");
}

TEST(Lines, UnknownCommandsAndInternalRequests) {
    EXPECT_EQ(error_of("dance"), "unknown command `dance`");
    // The foreground request is only for other hosts on the control socket.
    EXPECT_EQ(error_of("foreground 0x10"), "unknown command `foreground`");
    ParsedLine p = parse_line("foreground 0x10", 1, ParseOptions{.internal = true});
    ASSERT_TRUE(p.command.has_value());
    EXPECT_EQ(std::get<cmd::Foreground>(*p.command).hwnd, 0x10u);
}

TEST(Scripts, EveryMalformedLineIsNamedAndNothingElseIsLost) {
    const Script s = parse_script(
        "# prepare the phone\n"
        "missed 2\r\n"
        "wiat 3s\n"
        "\n"
        "press nowhere\n"
        "wait 41t");
    ASSERT_EQ(s.errors.size(), 2u);
    EXPECT_EQ(s.errors[0].line, 3);
    EXPECT_EQ(s.errors[0].describe(), "line 3: unknown command `wiat`");
    EXPECT_EQ(s.errors[1].line, 5);
    ASSERT_EQ(s.commands.size(), 2u);
    EXPECT_EQ(s.commands[0].line, 2);
    EXPECT_EQ(s.commands[0].text, "missed 2");
    EXPECT_EQ(s.commands[1].line, 6);
    EXPECT_EQ(std::get<cmd::Wait>(s.commands[1].command).ms, 123'000);
}

TEST(Arguments, JoinedLinesSplitBackToTheSameArguments) {
    const std::vector<std::vector<std::string>> cases = {
        {"reg", "get", R"(HKCU\System\State\Phone)", "Missed Call Count"},
        {"reg", "set", R"(HKCU\A)", "", "sz:#hash"},
        {"profile", "#1"},
        {"start", "--exe-path", R"(\Storage Card\Q.exe)"},
    };
    for (const auto& args : cases) {
        std::string line, error;
        ASSERT_TRUE(join_arguments(args, line, error)) << error;
        std::vector<std::string> back;
        ASSERT_TRUE(split_arguments(line, back, error)) << line;
        EXPECT_EQ(back, args) << line;
    }
    std::string line, error;
    EXPECT_FALSE(join_arguments({"profile", "a\"b"}, line, error));
    EXPECT_NE(error.find("double quote"), std::string::npos);
}

// The README's table and the terminal's help come from the parser's own table: each
// command they name is one the parser knows, and the README holds the table as made.
TEST(CommandHelp, TheReadmeAndTheHelpAreTheParsersOwn) {
    for (const CommandHelp& help : command_help()) {
        const std::string error = parse_line(help.usage, 1).error;
        EXPECT_FALSE(error.starts_with("unknown command") || error.find("action") != std::string::npos)
            << help.usage << ": " << error;
    }
    const std::string readme = read_text(std::string(qtest::kSourceDir) + "/README.md");
    const std::size_t start = readme.find('\n', readme.find("<!-- commands:"));
    const std::size_t end = readme.find("<!-- end of commands -->");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(readme.substr(start + 1, end - start - 1), command_table_markdown()) << "run tools/readme-commands";
}

}  // namespace
