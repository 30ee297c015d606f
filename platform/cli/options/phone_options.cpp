// The phone's own options: their CLI11 declarations, and the plain command line read
// without CLI11.
#include "platform/cli/options/phone_options.h"

#include <algorithm>
#include <vector>

#include "platform/frontends/window/window_layout.h"
#include "platform/handset/core/utf.h"
#include "platform/phone/commands.h"
#include "res/version.h"

using namespace handset;
using namespace phone;
using namespace frontends;

namespace cli {

CommandWords::CommandWords(std::span<const char* const> args) : args_(args) {
    for (const std::string_view arg : args)
        if (arg.starts_with("--") ? arg.starts_with("--help") : arg.starts_with("-") && arg != "-") everything_ = true;
}

bool CommandWords::names(std::string_view name) const {
    if (everything_) return true;
    for (const std::string_view arg : args_)
        if (arg.starts_with(name) && (arg.size() == name.size() || arg[name.size()] == '=')) return true;
    return false;
}

void add_device_options(CLI::App& app, DeviceOptions& device, const CommandWords& words) {
    if (words.names("--device"))
        app.add_option("--device", device.folder, "device folder (default: $XDG_STATE_HOME/quillon/device)");
    if (words.names("--model"))
        app.add_option("--model", device.model, "handset model of a new device: skt, ktf or none")
            ->check(CLI::IsMember({"skt", "ktf", "none"}));
    if (words.names("--sms-root"))
        app.add_option_function<std::string>(
               "--sms-root",
               [&device](const std::string& root) { device.unread_sms_in_hklm = root == "HKLM"; },
               "where a new device publishes the unread-SMS count: HKCU (documented, the default) or HKLM")
            ->transform(CLI::IsMember({"HKCU", "HKLM"}, CLI::ignore_case));
}

void add_phone_options(CLI::App& app, PhoneOptions& o, const CommandWords& words) {
    app.footer(
        "Companions:\n"
        "  quillon [--device DIR] reg query|add|delete|export|import ...   the device's registry tool\n"
        "  quillon [--device DIR] ctl COMMAND ...                            one handset command in the running phone\n"
        "  quillon trace EVENTS.jsonl -o RUN.json                            an event log as a trace for the viewers\n"
        "  quillon monkey [--seed N] [--runs N] [--actions N] [--device DIR] [--keep DIR]   random use, checked\n"
        "Terminal and window keys: F1/F2 soft keys, Esc Back, Enter, arrows, * # 0-9, : command line, F10 quit.");
    if (words.names("--version"))
        app.set_version_flag("--version", "quillon " QUILLON_VERSION, "print the version and leave");
    const auto flag = [&](const char* name, bool& into, const char* help) {
        return words.names(name) ? app.add_flag(name, into, help) : nullptr;
    };
    const auto file = [&](const char* name, std::string& into, const char* help) {
        if (words.names(name)) app.add_option(name, into, help);
    };
    add_device_options(app, o.device, words);
    flag("--reset", o.device.reset, "recreate the device folder in factory state");
    if (words.names("--exe-path"))
        app.add_option_function<std::string>(
               "--exe-path", [&o](const std::string& path) { o.device.exe_path = handset::to_utf16(path); },
               "device path Quillon is started from")
            ->check([](const std::string& p) {
                return !p.empty() && p[0] == '\\' ? std::string() : "must be an absolute device path (\\Folder\\x.exe)";
            });
    flag("--headless", o.headless, "no screen: handset commands drive the phone, events go to stdout");
    flag("--window", o.window, "the phone in a window of the desktop (SDL2) instead of the terminal");
    if (words.names("--scale"))
        app.add_option("--scale", o.scale, "window: screen pixels per handset pixel (default 2)")
            ->type_name("N")
            ->check(CLI::Range(kMinWindowScale, kMaxWindowScale));
    flag("--layout", o.layout, "window: print its clickable regions at --scale as JSON and leave");
    file("--script", o.script, "headless: read the commands from FILE instead of stdin");
    file("--log", o.log, "write the events to FILE (headless: instead of stdout)");
    file("--record", o.record, "write the session down as a headless script to FILE (terminal, window)");
    file("--trace", o.trace, "headless: also write the run as a trace to FILE at its end");
    if (words.names("--clock"))
        app.add_option("--clock", o.clock, "real or virtual (default: virtual headless, real in the terminal)")
            ->check(CLI::IsMember({"real", "virtual"}));
    if (words.names("--speed"))
        app.add_option("--speed", o.speed, "speed factor of the real clock, 0.01 to 1000")
            ->type_name("FACTOR")
            ->check([](const std::string& text) {
                std::string error;
                return parse_speed(text, error) ? std::string() : error;
            });
    flag("--no-start", o.no_start, "do not start Quillon; the commands start it with `start`");
    if (CLI::Option* child = flag("--child-program", o.child, "")) child->group("");
    if (words.names("--time-origin")) app.add_option("--time-origin", o.time_origin)->group("");
    if (CLI::Option* table =
            flag("--command-table", o.command_table, "print the handset commands as the README's Markdown table"))
        table->group("");
}

namespace {

// Where a plain option of the phone goes: the fields that add_phone_options and
// add_device_options bind to the same names, with nothing that converts or checks
// what is given. A flag's field, or null for other names.
bool* plain_flag(std::string_view name, PhoneOptions& o) {
    if (name == "--headless") return &o.headless;
    if (name == "--window") return &o.window;
    if (name == "--layout") return &o.layout;
    if (name == "--no-start") return &o.no_start;
    if (name == "--reset") return &o.device.reset;
    return nullptr;
}

// Sets the option that takes `value` as it is; false for other names.
bool set_plain_text(std::string_view name, std::string_view value, PhoneOptions& o) {
    if (name == "--device")
        o.device.folder = value;
    else if (name == "--script")
        o.script = value;
    else if (name == "--log")
        o.log = value;
    else if (name == "--record")
        o.record = value;
    else if (name == "--trace")
        o.trace = value;
    else
        return false;
    return true;
}

bool is_companion_name(std::string_view word) {
    return std::find(std::begin(kCompanionNames), std::end(kCompanionNames), word) != std::end(kCompanionNames);
}

}  // namespace

bool read_plain_phone_words(std::span<const char* const> args, PhoneOptions& into) {
    std::vector<std::string_view> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (!word.starts_with("--")) return false;
        const std::size_t equals = word.find('=');
        const std::string_view name = word.substr(0, equals);
        // CLI11 refuses most options given twice, and a flag with a value says more
        // than a flag: its own words for both.
        if (std::find(given.begin(), given.end(), name) != given.end()) return false;
        given.push_back(name);
        if (bool* flag = plain_flag(name, into)) {
            if (equals != std::string_view::npos) return false;
            *flag = true;
            continue;
        }
        std::string_view value;
        if (equals != std::string_view::npos)
            value = word.substr(equals + 1);
        else if (i + 1 < args.size())
            value = args[++i];
        else
            return false;
        // A value CLI11 may read otherwise: a word with a dash is the next option to
        // it, an empty one is none, and a companion's name starts that companion.
        if (value.empty() || value.starts_with("-") || is_companion_name(value)) return false;
        if (!set_plain_text(name, value, into)) return false;
    }
    return true;
}

}  // namespace cli
