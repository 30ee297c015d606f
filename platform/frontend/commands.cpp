// Parsing of the handset commands: tokens, durations, and one typed command a line.
#include "platform/frontend/commands.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <sstream>

#include "platform/handset/core/events.h"

namespace handset::frontend {
namespace {

// Raised inside the parser to leave a line with its problem; never escapes this file.
struct LineError {
    std::string message;
};

[[noreturn]] void fail(std::string message) { throw LineError{std::move(message)}; }

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

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

class Args {
public:
    Args(std::string name, std::vector<std::string> args) : name_(std::move(name)), args_(std::move(args)) {}

    std::size_t size() const { return args_.size(); }
    const std::string& operator[](std::size_t i) const { return args_[i]; }

    // Requires between `min` and `max` arguments, naming the expected form otherwise.
    void expect(std::size_t min, std::size_t max, std::string_view usage) const {
        if (args_.size() < min) fail("`" + name_ + "` needs " + std::string(usage));
        if (args_.size() > max)
            fail("too many arguments for `" + name_ + "` (expected " + std::string(usage) + ")");
    }

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
    std::string name_;
    std::vector<std::string> args_;
};

BYTE key_code(const std::string& text) {
    static const std::pair<const char*, BYTE> names[] = {
        {"left", 112}, {"right", 113}, {"back", 27}, {"enter", 13}, {"up", 38},
        {"down", 40},  {"star", 119},  {"pound", 120},
    };
    const std::string name = lower(text);
    for (const auto& [n, vk] : names)
        if (name == n) return vk;
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return static_cast<BYTE>(name[0]);
    if (name.starts_with("vk:")) {
        unsigned long long v = 0;
        if (!parse_unsigned(std::string_view(name).substr(3), 255, v, true) || v == 0)
            fail("`" + text + "`: a virtual-key code is a number from 1 to 255");
        return static_cast<BYTE>(v);
    }
    fail("unknown key `" + text + "` (keys: left, right, back, enter, up, down, star, pound, 0-9, vk:N)");
}

Command parse_reg(const std::vector<std::string>& words) {
    if (words.size() < 2) fail("`reg` needs an action: set, delete or get");
    const std::string action = words[1];
    Args a("reg " + action, std::vector<std::string>(words.begin() + 2, words.end()));
    if (action == "set") {
        a.expect(3, 3, "KEY NAME TYPE:DATA");
        cmd::RegSet c{a.key(0), handset::to_utf16(a[1]), 0, {}};
        std::string error;
        if (!handset::parse_typed_value(a[2], c.type, c.data, error))
            fail("bad value `" + a[2] + "`: " + error);
        return c;
    }
    if (action == "delete") {
        a.expect(1, 2, "KEY [NAME]");
        cmd::RegDelete c{a.key(0), std::nullopt};
        if (a.size() == 2) c.name = handset::to_utf16(a[1]);
        else if (c.key.path.empty()) fail("`reg delete` cannot delete a root key");
        return c;
    }
    if (action == "get") {
        a.expect(2, 2, "KEY NAME");
        return cmd::RegGet{a.key(0), handset::to_utf16(a[1])};
    }
    fail("unknown `reg` action `" + action + "` (set, delete or get)");
}

Command parse_words(const std::vector<std::string>& words, ParseOptions options) {
    const std::string& name = words[0];
    if (name == "reg") return parse_reg(words);
    Args a(name, std::vector<std::string>(words.begin() + 1, words.end()));

    if (name == "wait") {
        a.expect(1, 1, "a duration (500ms, 3s, 2m, 1h, 41t)");
        long long ms = 0;
        std::string error;
        if (!parse_duration(a[0], ms, error)) fail(error);
        return cmd::Wait{ms};
    }
    if (name == "missed" || name == "sms" || name == "call") {
        a.expect(1, 1, "a count");
        using W = cmd::SetCounter::Which;
        const W which = name == "missed" ? W::MissedCalls : name == "sms" ? W::UnreadSms : W::ActiveCalls;
        return cmd::SetCounter{which, a.number(0, "the count")};
    }
    if (name == "profile") {
        a.expect(1, 1, "a profile name");
        if (a[0].empty()) fail("the profile name is empty");
        return cmd::Profile{a[0]};
    }
    if (name == "press") {
        a.expect(1, 1, "a key");
        return cmd::Press{key_code(a[0])};
    }
    if (name == "power") {
        a.expect(1, 1, "a power-state name, `button` or `info`");
        if (a[0] == "button") return cmd::Power{cmd::Power::Action::Button, {}};
        if (a[0] == "info") return cmd::Power{cmd::Power::Action::Info, {}};
        for (char c : a[0])
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
                fail("bad power-state name `" + a[0] + "`");
        if (a[0].empty()) fail("the power-state name is empty");
        return cmd::Power{cmd::Power::Action::SetState, a[0]};
    }
    if (name == "device") {
        if (a.size() == 0 || a[0] != "idle-timeout")
            fail("`device` takes `idle-timeout DURATION|off`");
        a.expect(2, 2, "idle-timeout DURATION|off");
        if (a[1] == "off") return cmd::IdleTimeout{std::nullopt};
        long long ms = 0;
        std::string error;
        if (!parse_duration(a[1], ms, error)) fail(error);
        if (ms == 0) fail("an idle timeout of 0 is not allowed; use `off`");
        return cmd::IdleTimeout{ms};
    }
    if (name == "mail") {
        a.expect(1, 1, "`start` or `close`");
        if (a[0] == "start") return cmd::Mail{true};
        if (a[0] == "close") return cmd::Mail{false};
        fail("`mail` takes `start` or `close`, not `" + a[0] + "`");
    }
    if (name == "start") {
        if (a.size() == 0) return cmd::Start{};
        if (a[0] != "--exe-path") fail("`start` takes only `--exe-path PATH`, not `" + a[0] + "`");
        a.expect(2, 2, "[--exe-path PATH]");
        if (a[1].empty() || a[1][0] != '\\')
            fail("the program path `" + a[1] + "` must be an absolute device path (\\Folder\\Program.exe)");
        return cmd::Start{handset::to_utf16(a[1])};
    }
    if (name == "quit") {
        a.expect(0, 0, "no arguments");
        return cmd::Quit{};
    }
    if (name == "command") {
        a.expect(1, 1, "a command ID");
        return cmd::DialogCommand{a.number(0, "the command ID", 0xFFFF)};
    }
    if (name == "click") {
        a.expect(1, 1, "a control ID");
        return cmd::Click{a.number(0, "the control ID", 0xFFFF)};
    }
    if (name == "select") {
        a.expect(2, 2, "a control ID and an entry INDEX");
        const UINT id = a.number(0, "the control ID", 0xFFFF);
        const int index = static_cast<int>(a.number(1, "the entry index", 0x7FFFFFFF));
        return cmd::Select{id, index};
    }
    if (name == "screen") {
        a.expect(0, 0, "no arguments");
        return cmd::Screen{};
    }
    if (name == "controls") {
        a.expect(0, 0, "no arguments");
        return cmd::Controls{};
    }
    if (name == "fault") {
        a.expect(2, 3, "SERVICE OPERATION [on|off]");
        handset::Fault f{};
        if (!handset::parse_fault(a[0], a[1], f)) {
            std::string known;
            for (const auto& n : handset::fault_names()) known += (known.empty() ? "" : ", ") + n;
            fail("unknown fault point `" + a[0] + " " + a[1] + "` (known: " + known + ")");
        }
        bool on = true;
        if (a.size() == 3) {
            if (a[2] == "on") on = true;
            else if (a[2] == "off") on = false;
            else fail("`fault` ends with `on` or `off`, not `" + a[2] + "`");
        }
        return cmd::SetFault{f, on};
    }
    if (name == "file") {
        if (a.size() == 0 || a[0] != "delete") fail("`file` takes `delete PATH`");
        a.expect(2, 2, "delete PATH");
        if (a[1].empty() || a[1][0] != '\\')
            fail("the path `" + a[1] + "` must be an absolute device path (\\Folder\\file)");
        return cmd::FileDelete{handset::to_utf16(a[1])};
    }
    if (name == "foreground" && options.internal) {
        a.expect(1, 1, "a window handle");
        unsigned long long v = 0;
        if (!parse_unsigned(a[0], std::numeric_limits<std::uintptr_t>::max(), v, true) || v == 0)
            fail("bad window handle `" + a[0] + "`");
        return cmd::Foreground{static_cast<std::uintptr_t>(v)};
    }
    fail("unknown command `" + name + "`");
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
    else if (unit == "t") scale = kWatchPeriodMs;
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
        std::string operator()(const cmd::Mail& c) const { return c.start ? "mail start" : "mail close"; }
        std::string operator()(const cmd::Start&) const { return "start"; }
        std::string operator()(const cmd::Quit&) const { return "quit"; }
        std::string operator()(const cmd::DialogCommand&) const { return "command"; }
        std::string operator()(const cmd::Click&) const { return "click"; }
        std::string operator()(const cmd::Select&) const { return "select"; }
        std::string operator()(const cmd::Screen&) const { return "screen"; }
        std::string operator()(const cmd::Controls&) const { return "controls"; }
        std::string operator()(const cmd::SetFault&) const { return "fault"; }
        std::string operator()(const cmd::FileDelete&) const { return "file delete"; }
        std::string operator()(const cmd::Foreground&) const { return "foreground"; }
    };
    return std::visit(Namer{}, command);
}

}  // namespace handset::frontend
