// Parsing of the handset commands: tokens, durations, and one typed command a line.
#include "platform/phone/commands.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <sstream>

#include "platform/phone/keys.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/utf.h"
#include "res/program_facts.h"

using namespace handset;

namespace phone {
namespace {

// Raised inside the parser to leave a line with its problem; never escapes this file.
struct LineError {
    std::string message;
};

[[noreturn]] void fail(std::string message) { throw LineError{std::move(message)}; }

// An unsigned decimal number (or 0x hex when `hex_ok`) no larger than `max`.
bool parse_unsigned(std::string_view text, unsigned long long max, unsigned long long& out, bool hex_ok = false) {
    int base = 10;
    if (hex_ok && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

struct CommandForm;

// The arguments of one command, after the words that name it.
class Args {
public:
    Args(const CommandForm& form, std::vector<std::string> args) : form_(form), args_(std::move(args)) {}
    // The same arguments with the first `skip` characters of the first one left out.
    Args(const Args& a, std::size_t skip) : form_(a.form_), args_(a.args_) { args_[0].erase(0, skip); }

    std::size_t size() const { return args_.size(); }
    const std::string& operator[](std::size_t i) const { return args_[i]; }

    // Requires between `min` and `max` arguments, naming the command's form otherwise.
    void expect(std::size_t min, std::size_t max) const;

    DWORD number(std::size_t i, const char* what, unsigned long long max = 0xFFFFFFFFull) const {
        unsigned long long v = 0;
        if (!parse_unsigned(args_[i], max, v))
            fail(std::string(what) + " must be a whole number from 0 to " + std::to_string(max) + ", not `" +
                 args_[i] + "`");
        return static_cast<DWORD>(v);
    }

    handset::RegKeyPath key(std::size_t i) const {
        handset::RegKeyPath key;
        std::string error;
        if (!handset::parse_key_path(args_[i], key, error)) fail("bad registry key `" + args_[i] + "`: " + error);
        return key;
    }

private:
    const CommandForm& form_;
    std::vector<std::string> args_;
};

BYTE key_code(const std::string& text) {
    if (const auto vk = key_by_press_name(text)) return *vk;
    if (ascii_lower(text).starts_with("vk:")) fail("`" + text + "`: a virtual-key code is a number from 1 to 255");
    fail("unknown key `" + text + "` (keys: " + press_names() + ")");
}

long long duration(const std::string& text) {
    long long ms = 0;
    std::string error;
    if (!parse_duration(text, ms, error)) fail(error);
    return ms;
}

cmd::SetCounter counter(cmd::SetCounter::Which which, const Args& a) {
    a.expect(1, 1);
    if (a[0].starts_with('+')) {
        const Args amount(a, 1);
        return {which, amount.number(0, "the count to add"), true};
    }
    return {which, a.number(0, "the count")};
}

cmd::Speed speed(const Args& a) {
    a.expect(0, 1);
    if (a.size() == 0) return {};
    std::string error;
    const std::optional<double> factor = parse_speed(a[0], error);
    if (!factor) fail(error);
    return {*factor};
}

cmd::Power power(const Args& a) {
    a.expect(1, 1);
    if (a[0] == "button") return {cmd::Power::Action::Button, {}};
    if (a[0] == "info") return {cmd::Power::Action::Info, {}};
    for (char c : a[0])
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            fail("bad power-state name `" + a[0] + "`");
    if (a[0].empty()) fail("the power-state name is empty");
    return {cmd::Power::Action::SetState, a[0]};
}

cmd::Start start(const Args& a) {
    if (a.size() == 0) return {};
    if (a[0] != "--exe-path") fail("`start` takes only `--exe-path PATH`, not `" + a[0] + "`");
    a.expect(2, 2);
    if (a[1].empty() || a[1][0] != '\\')
        fail("the program path `" + a[1] + "` must be an absolute device path (\\Folder\\Program.exe)");
    return {handset::to_utf16(a[1])};
}

cmd::SetFault fault(const Args& a) {
    a.expect(2, 4);
    handset::Fault f{};
    if (!handset::parse_fault(a[0], a[1], f)) {
        std::string known;
        for (const auto& n : handset::fault_names()) known += (known.empty() ? "" : ", ") + n;
        fail("unknown fault point `" + a[0] + " " + a[1] + "` (known: " + known + ")");
    }
    if (a.size() == 4 && a[2] == "after")
        return {f, true, static_cast<int>(a.number(3, "the operations to let through", 1000000))};
    if (a.size() > 3 || (a.size() == 3 && a[2] != "on" && a[2] != "off"))
        fail("`fault` ends with `on`, `off` or `after N`, not `" + a[2] + "`");
    return {f, a.size() < 3 || a[2] == "on", std::nullopt};
}

cmd::Foreground foreground(const Args& a) {
    a.expect(1, 1);
    unsigned long long v = 0;
    if (!parse_unsigned(a[0], std::numeric_limits<std::uintptr_t>::max(), v, true) || v == 0)
        fail("bad window handle `" + a[0] + "`");
    return {static_cast<std::uintptr_t>(v)};
}

// Every command: the words that name it, its arguments, what it does, and its parser,
// which gets the arguments after the words. The help and the README's table are made
// from this table, so that they cannot drift from the parser.
struct CommandForm {
    std::string_view name;
    std::string_view usage;
    std::string_view effect;
    Command (*parse)(const Args& a);
    bool internal = false;  // only hosts send it to each other (the control socket)
};

constexpr CommandForm kForms[] = {
    {"wait", "DURATION", "let the phone run: `500ms`, `3s`, `2m`, `1h`, or `41t` (41 watch periods of 3000 ms)",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         return cmd::Wait{duration(a[0])};
     }},
    {"missed", "N|+N", "set the missed-call count, or add N to it",
     [](const Args& a) -> Command { return counter(cmd::SetCounter::Which::MissedCalls, a); }},
    {"sms", "N|+N", "set the unread SMS count, or add N to it",
     [](const Args& a) -> Command { return counter(cmd::SetCounter::Which::UnreadSms, a); }},
    {"call", "N|+N", "set the active call count, or add N to it",
     [](const Args& a) -> Command { return counter(cmd::SetCounter::Which::ActiveCalls, a); }},
    {"profile", "NAME", "set the active profile (`Normal`, `Silent`, ...)",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         if (a[0].empty()) fail("the profile name is empty");
         return cmd::Profile{a[0]};
     }},
    {"reg set", "KEY NAME TYPE:DATA", "write a value (`dword:5`, `dword:0x10`, `sz:Silent`, `hex:01,02,ff`); KEY as `HKCU\\...` or `HKLM\\...`",
     [](const Args& a) -> Command {
         a.expect(3, 3);
         cmd::RegSet c{a.key(0), handset::to_utf16(a[1]), 0, {}};
         std::string error;
         if (!handset::parse_typed_value(a[2], c.type, c.data, error)) fail("bad value `" + a[2] + "`: " + error);
         return c;
     }},
    {"reg delete", "KEY [NAME]", "delete a value, or the key without a name",
     [](const Args& a) -> Command {
         a.expect(1, 2);
         cmd::RegDelete c{a.key(0), std::nullopt};
         if (a.size() == 2) c.name = handset::to_utf16(a[1]);
         else if (c.key.path.empty()) fail("`reg delete` cannot delete a root key");
         return c;
     }},
    {"reg get", "KEY NAME", "print a value as `TYPE:DATA`, the form `reg set` takes",
     [](const Args& a) -> Command {
         a.expect(2, 2);
         return cmd::RegGet{a.key(0), handset::to_utf16(a[1])};
     }},
    {"press", "KEY", "a physical key press: `left`, `right` (the soft keys), `back`, `enter`, `up`, `down`, `star`, `pound`, `0`-`9`, `vk:N`",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         return cmd::Press{key_code(a[0])};
     }},
    {"power", "NAME|button|info", "set the power state and broadcast it; press the power button; broadcast a power-information change",
     [](const Args& a) -> Command { return power(a); }},
    {"device idle-timeout", "DURATION|off", "the user-idle time of the power manager",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         if (a[0] == "off") return cmd::IdleTimeout{std::nullopt};
         const long long ms = duration(a[0]);
         if (ms == 0) fail("an idle timeout of 0 is not allowed; use `off`");
         return cmd::IdleTimeout{ms};
     }},
    {"battery", "PERCENT", "set the battery's level (0-100); the phone tells of the change",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         return cmd::Battery{static_cast<int>(a.number(0, "the battery level", 100))};
     }},
    {"charger", "on|off", "plug the charger in or pull it out",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         if (a[0] != "on" && a[0] != "off") fail("`charger` takes `on` or `off`, not `" + a[0] + "`");
         return cmd::Charger{a[0] == "on"};
     }},
    {"mail start", "", "the user starts the carrier's mail client",
     [](const Args& a) -> Command {
         a.expect(0, 0);
         return cmd::Mail{true};
     }},
    {"mail close", "", "the user closes the mail client's window",
     [](const Args& a) -> Command {
         a.expect(0, 0);
         return cmd::Mail{false};
     }},
    {"speed", "[FACTOR]", "run the real clock FACTOR times as fast from now on (`1`, `10`, `60`); print the factor without one",
     [](const Args& a) -> Command { return speed(a); }},
    {"start", "[--exe-path PATH]", "start Quillon as the phone's launcher does (a second start runs a second instance)",
     [](const Args& a) -> Command { return start(a); }},
    {"quit", "", "end Quillon as its menu command \"프로그램 종료\" does",
     [](const Args& a) -> Command {
         a.expect(0, 0);
         return cmd::Quit{};
     }},
    {"command", "ID", "the window in front gets command ID",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         return cmd::DialogCommand{a.number(0, "the command ID", 0xFFFF)};
     }},
    {"click", "ID", "a user click on control ID",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         return cmd::Click{a.number(0, "the control ID", 0xFFFF)};
     }},
    {"select", "ID INDEX", "the user picks entry INDEX of list ID",
     [](const Args& a) -> Command {
         a.expect(2, 2);
         const UINT id = a.number(0, "the control ID", 0xFFFF);
         return cmd::Select{id, static_cast<int>(a.number(1, "the entry index", 0x7FFFFFFF))};
     }},
    {"screen", "", "print the screen as text",
     [](const Args& a) -> Command {
         a.expect(0, 0);
         return cmd::Screen{};
     }},
    {"screenshot", "FILE.png", "write the screen in pixels (320 x 240) to a PNG file",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         if (a[0].empty()) fail("the file name is empty");
         return cmd::Screenshot{a[0]};
     }},
    {"controls", "", "print the controls of the window in front as JSON",
     [](const Args& a) -> Command {
         a.expect(0, 0);
         return cmd::Controls{};
     }},
    {"help", "", "print the handset commands, one usage a line",
     [](const Args& a) -> Command {
         a.expect(0, 0);
         return cmd::Help{};
     }},
    {"file delete", "PATH", "delete a file of the device's file system",
     [](const Args& a) -> Command {
         a.expect(1, 1);
         if (a[0].empty() || a[0][0] != '\\')
             fail("the path `" + a[0] + "` must be an absolute device path (\\Folder\\file)");
         return cmd::FileDelete{handset::to_utf16(a[0])};
     }},
    {"fault", "SERVICE OPERATION [on|off|after N]", "make a platform operation fail for the program (state commands still write); `after N` lets N more through first",
     [](const Args& a) -> Command { return fault(a); }},
    {"foreground", "HANDLE", "bring a window of this host to the front",
     [](const Args& a) -> Command { return foreground(a); }, true},
};

void Args::expect(std::size_t min, std::size_t max) const {
    const std::string usage = form_.usage.empty() ? "no arguments" : std::string(form_.usage);
    if (args_.size() < min) fail("`" + std::string(form_.name) + "` needs " + usage);
    if (args_.size() > max) fail("too many arguments for `" + std::string(form_.name) + "` (expected " + usage + ")");
}

// The first word of `name`.
std::string_view head(std::string_view name) { return name.substr(0, name.find(' ')); }

Command parse_words(const std::vector<std::string>& words, ParseOptions options) {
    std::vector<std::string_view> actions;  // second words of the forms the first word starts
    for (const CommandForm& form : kForms) {
        if (form.internal && !options.internal) continue;
        if (head(form.name) != words[0]) continue;
        if (head(form.name) == form.name)
            return form.parse(Args(form, std::vector<std::string>(words.begin() + 1, words.end())));
        const std::string_view action = form.name.substr(form.name.find(' ') + 1);
        if (words.size() > 1 && words[1] == action)
            return form.parse(Args(form, std::vector<std::string>(words.begin() + 2, words.end())));
        actions.push_back(action);
    }
    if (actions.empty()) fail("unknown command `" + words[0] + "`");
    std::string list;
    for (std::size_t i = 0; i < actions.size(); ++i)
        list += (i == 0 ? "" : i + 1 == actions.size() ? " or " : ", ") + std::string(actions[i]);
    if (words.size() < 2) fail("`" + words[0] + "` needs an action: " + list);
    fail("unknown `" + words[0] + "` action `" + words[1] + "` (" + list + ")");
}

}  // namespace

std::string ParsedLine::describe() const { return "line " + std::to_string(line) + ": " + error; }

bool split_arguments(std::string_view text, std::vector<std::string>& args, std::string& error) {
    args.clear();
    std::size_t i = 0;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < text.size()) {
        while (i < text.size() && space(text[i])) ++i;
        if (i == text.size() || text[i] == '#') break;
        std::string arg;
        while (i < text.size() && !space(text[i])) {
            if (text[i] == '"') {
                const std::size_t close = text.find('"', i + 1);
                if (close == std::string_view::npos) {
                    error = "unterminated quote";
                    return false;
                }
                arg.append(text.substr(i + 1, close - i - 1));
                i = close + 1;
            } else {
                arg += text[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return true;
}

bool join_arguments(const std::vector<std::string>& args, std::string& line, std::string& error) {
    line.clear();
    for (const auto& arg : args) {
        if (arg.find_first_of("\"\n\r") != std::string::npos) {
            error = "the argument `" + arg + "` holds a double quote or a line break, which a command cannot carry";
            return false;
        }
        if (!line.empty()) line += ' ';
        const bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos || arg[0] == '#';
        if (quote) line += '"' + arg + '"';
        else line += arg;
    }
    return true;
}

bool parse_duration(std::string_view text, long long& ms, std::string& error) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    const std::string_view number = text.substr(0, digits);
    const std::string_view unit = text.substr(digits);
    if (number.empty()) {
        error = "bad duration `" + std::string(text) + "` (write e.g. 500ms, 3s, 2m, 1h or 41t)";
        return false;
    }
    long long scale = 0;
    if (unit == "ms") scale = 1;
    else if (unit == "s") scale = 1000;
    else if (unit == "m") scale = 60'000;
    else if (unit == "h") scale = 3'600'000;
    else if (unit == "t") scale = WATCH_TIMER_PERIOD_MS;
    else {
        error = unit.empty() ? "the duration `" + std::string(text) + "` lacks its unit (ms, s, m, h or t)"
                             : "unknown duration unit `" + std::string(unit) + "` in `" + std::string(text) +
                                   "` (ms, s, m, h or t)";
        return false;
    }
    // Ten years of handset time is more than any run needs and keeps deadlines far from overflow.
    constexpr unsigned long long kMaxMs = 10ull * 365 * 24 * 3'600'000;
    unsigned long long n = 0;
    if (!parse_unsigned(number, kMaxMs / static_cast<unsigned long long>(scale), n)) {
        error = "the duration `" + std::string(text) + "` is too long";
        return false;
    }
    ms = static_cast<long long>(n) * scale;
    return true;
}

std::optional<double> parse_speed(std::string_view text, std::string& error) {
    double factor = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), factor);
    if (ec == std::errc() && end == text.data() + text.size() && factor >= kMinSpeed && factor <= kMaxSpeed)
        return factor;
    error = "the speed factor must be a number from 0.01 to 1000, not `" + std::string(text) + "`";
    return std::nullopt;
}

ParsedLine parse_line(std::string_view text, int line_number, ParseOptions options) {
    ParsedLine result;
    result.line = line_number;
    std::vector<std::string> words;
    if (!split_arguments(text, words, result.error)) return result;
    if (words.empty()) return result;
    try {
        result.command = parse_words(words, options);
    } catch (const LineError& e) {
        result.error = e.message;
    }
    return result;
}

Script parse_script(std::string_view text, ParseOptions options) {
    Script script;
    int number = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        ++number;
        ParsedLine parsed = parse_line(line, number, options);
        if (!parsed.ok()) script.errors.push_back(std::move(parsed));
        else if (parsed.command) script.commands.push_back({number, std::string(line), std::move(*parsed.command)});
    }
    return script;
}

std::vector<CommandHelp> command_help() {
    std::vector<CommandHelp> help;
    for (const CommandForm& form : kForms) {
        if (form.internal) continue;
        std::string usage(form.name);
        if (!form.usage.empty()) usage += " " + std::string(form.usage);
        help.push_back({std::move(usage), std::string(form.effect)});
    }
    return help;
}

std::string command_table_markdown() {
    std::string table = "| command | effect |\n|---|---|\n";
    for (const CommandHelp& h : command_help()) {
        std::string usage;
        for (char c : h.usage) usage += c == '|' ? std::string("\\|") : std::string(1, c);
        std::string effect;
        for (char c : h.effect) effect += c == '|' ? std::string("\\|") : std::string(1, c);
        table += "| `" + usage + "` | " + effect + " |\n";
    }
    return table;
}

std::string command_name(const Command& command) {
    struct Namer {
        std::string operator()(const cmd::Wait&) const { return "wait"; }
        std::string operator()(const cmd::SetCounter& c) const {
            using W = cmd::SetCounter::Which;
            return c.which == W::MissedCalls ? "missed" : c.which == W::UnreadSms ? "sms" : "call";
        }
        std::string operator()(const cmd::Profile&) const { return "profile"; }
        std::string operator()(const cmd::RegSet&) const { return "reg set"; }
        std::string operator()(const cmd::RegDelete&) const { return "reg delete"; }
        std::string operator()(const cmd::RegGet&) const { return "reg get"; }
        std::string operator()(const cmd::Press&) const { return "press"; }
        std::string operator()(const cmd::Power&) const { return "power"; }
        std::string operator()(const cmd::IdleTimeout&) const { return "device idle-timeout"; }
        std::string operator()(const cmd::Battery&) const { return "battery"; }
        std::string operator()(const cmd::Charger&) const { return "charger"; }
        std::string operator()(const cmd::Mail& c) const { return c.start ? "mail start" : "mail close"; }
        std::string operator()(const cmd::Start&) const { return "start"; }
        std::string operator()(const cmd::Speed&) const { return "speed"; }
        std::string operator()(const cmd::Quit&) const { return "quit"; }
        std::string operator()(const cmd::DialogCommand&) const { return "command"; }
        std::string operator()(const cmd::Click&) const { return "click"; }
        std::string operator()(const cmd::Select&) const { return "select"; }
        std::string operator()(const cmd::Screen&) const { return "screen"; }
        std::string operator()(const cmd::Screenshot&) const { return "screenshot"; }
        std::string operator()(const cmd::Controls&) const { return "controls"; }
        std::string operator()(const cmd::Help&) const { return "help"; }
        std::string operator()(const cmd::SetFault&) const { return "fault"; }
        std::string operator()(const cmd::FileDelete&) const { return "file delete"; }
        std::string operator()(const cmd::Foreground&) const { return "foreground"; }
    };
    return std::visit(Namer{}, command);
}

}  // namespace phone
