// The handset commands that drive the emulated phone: scripts, the terminal's command
// line and `quillon ctl` all speak them.
//
// One command a line. Arguments are separated by spaces or tabs and may be quoted with
// double quotes; inside quotes every character is literal, backslashes included, so a
// device path needs no escaping. A `#` at the start of an argument begins a comment that
// runs to the end of the line. A line is parsed whole before anything of it runs: a
// malformed line yields an error naming its number and the problem, and no command.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/handset/core/faults.h"
#include "platform/handset/registry/paths.h"
#include "platform/wintypes.h"

namespace phone {

namespace cmd {

struct Wait {
    long long ms;
};
// `missed N`, `sms N`, `call N`: the phone's state counters; `missed +N` adds to one.
struct SetCounter {
    enum class Which { MissedCalls, UnreadSms, ActiveCalls } which;
    DWORD count;
    bool add = false;
};
struct Profile {
    std::string name;
};
struct RegSet {
    handset::RegKeyPath key;
    std::u16string name;
    DWORD type;
    handset::Bytes data;
};
// `reg delete KEY` deletes the key itself when no name is given.
struct RegDelete {
    handset::RegKeyPath key;
    std::optional<std::u16string> name;
};
struct RegGet {
    handset::RegKeyPath key;
    std::u16string name;
};
struct Press {
    BYTE vk;
};
struct Power {
    enum class Action { SetState, Button, Info } action;
    std::string state;  // SetState only
};
// nullopt switches the user-idle timer off.
struct IdleTimeout {
    std::optional<long long> ms;
};
// `battery PERCENT`: the battery's level, as if it had drained or filled to it.
struct Battery {
    int percent;
};
// `charger on|off`: the user plugs the charger in or pulls it out.
struct Charger {
    bool on;
};
struct Mail {
    bool start;  // false: close its window
};
struct Start {
    std::optional<std::u16string> exe_path;
};
// `speed FACTOR` sets the real clock's pace (parse_speed); `speed` alone prints it.
struct Speed {
    std::optional<double> factor;
};
struct Quit {};
struct DialogCommand {
    UINT id;
};
struct Click {
    UINT id;
};
struct Select {
    UINT id;
    int index;
};
struct Screen {};
// `screenshot FILE`: the screen in pixels as a PNG file of the host, at 1:1.
struct Screenshot {
    std::string path;
};
struct Controls {};
// `help`: the commands, one usage a line, as command output.
struct Help {};
// `fault SERVICE OPERATION after N`: the point lets N more operations through, then fails.
struct SetFault {
    handset::Fault fault;
    bool on;
    std::optional<int> after;
};
// `file delete PATH`: a file of the device's file system goes, as the user deletes it.
struct FileDelete {
    std::u16string path;
};
// Internal request of another host on the device: bring one of our windows to the front.
// Accepted only where ParseOptions::internal allows it (the control socket).
struct Foreground {
    std::uintptr_t hwnd;
};

}  // namespace cmd

using Command = std::variant<cmd::Wait, cmd::SetCounter, cmd::Profile, cmd::RegSet, cmd::RegDelete,
                             cmd::RegGet, cmd::Press, cmd::Power, cmd::IdleTimeout, cmd::Battery, cmd::Charger, cmd::Mail, cmd::Start, cmd::Speed,
                             cmd::Quit, cmd::DialogCommand, cmd::Click, cmd::Select, cmd::Screen,
                             cmd::Screenshot, cmd::Controls, cmd::Help, cmd::SetFault, cmd::FileDelete, cmd::Foreground>;

struct ParseOptions {
    bool internal = false;  // accept requests that only hosts send each other
};

// The real clock's pace, from kMinSpeed to kMaxSpeed for `speed` and `--speed` alike:
// slower than a hundredth a minute of handset time takes over an hour and a half, faster
// than a thousand the minutes on screen change faster than anyone reads them. The factor
// `text` gives, or nothing with `error` saying which factors are taken.
inline constexpr double kMinSpeed = 0.01;
inline constexpr double kMaxSpeed = 1000;
std::optional<double> parse_speed(std::string_view text, std::string& error);

// The outcome of parsing one line: a command, nothing (blank or comment), or an error.
struct ParsedLine {
    int line = 0;
    std::optional<Command> command;
    std::string error;  // non-empty: the problem, without the line number
    bool ok() const { return error.empty(); }
    // "line N: problem".
    std::string describe() const;
};

ParsedLine parse_line(std::string_view text, int line_number, ParseOptions options = {});

// A script split into lines and parsed. `errors` holds every malformed line; a script
// with errors should not run at all.
struct Script {
    struct Line {
        int line;
        std::string text;
        Command command;
    };
    std::vector<Line> commands;
    std::vector<ParsedLine> errors;
};
Script parse_script(std::string_view text, ParseOptions options = {});

// Splits a line into arguments (quotes removed, comment dropped). False with `error`
// set on an unterminated quote.
bool split_arguments(std::string_view text, std::vector<std::string>& args, std::string& error);

// Joins arguments into one command line that split_arguments gives back, quoting where
// needed. False when an argument cannot be expressed (it holds a double quote or a
// line break).
bool join_arguments(const std::vector<std::string>& args, std::string& line, std::string& error);

// `500ms`, `3s`, `2m`, `1h`, `41t` (the program's watch periods) in milliseconds.
bool parse_duration(std::string_view text, long long& ms, std::string& error);

// The name of a command, as typed ("wait", "reg set", ...).
std::string command_name(const Command& command);

// Each command that a user may type, with its arguments ("wait DURATION") and what it
// does, in the order the help lists them.
struct CommandHelp {
    std::string usage;
    std::string effect;
};
std::vector<CommandHelp> command_help();
// The same as a Markdown table (the README's), `|` escaped.
std::string command_table_markdown();

}  // namespace phone
