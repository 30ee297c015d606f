// The `quillon` executable: the emulated phone with Quillon running on it, set up by
// the phone's options, or the companion (companions.h) that the command line names.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "platform/cli/companions.h"
#include "platform/frontends/frontend.h"
#include "platform/frontends/window/window_layout.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/utf.h"
#include "platform/phone/commands.h"
#include "platform/phone/session.h"
#include "res/version.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;
using namespace frontends;
using namespace cli;


namespace {

// The phone's own options, given before a companion's name or without one.
struct Options {
    handset::DeviceOptions device;
    bool headless = false;
    bool window = false;
    bool layout = false;
    int scale = 0;  // 0: not given
    std::string script;
    std::string log;
    std::string record;
    std::string trace;
    std::string clock;
    double speed = 1.0;
    bool no_start = false;
    bool child = false;
    long long time_origin = 0;
    bool command_table = false;
};

// The phone's options that `words` names (all of them for the help).
void add_phone_options(CLI::App& app, Options& o, const CommandWords& words) {
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

// False, with the reason on stderr, for options that do not go together.
bool options_fit(const Options& options) {
    const auto bad = [](const std::string& message) {
        std::cerr << "quillon: " << message << "\n";
        return false;
    };
    if (options.child && (options.device.folder.empty() || options.device.exe_path.empty()))
        return bad("--child-program needs --device and --exe-path");
    if (options.layout)  // the window's layout is all the phone prints then
        return options.window || bad("--layout lists the regions of the phone window; it needs --window");
    if (!options.record.empty() && (options.headless || options.child))
        return bad("--record writes down a session at the keyboard; the headless phone already runs a script");
    if ((!options.script.empty() || !options.trace.empty()) && !options.headless)
        return bad(std::string(options.script.empty() ? "--trace" : "--script") + " needs --headless");
    // Nothing in the terminal phone or the window holds virtual time back: it would race ahead.
    if (!options.headless && !options.child && options.clock == "virtual")
        return bad(std::string("the ") + (options.window ? "phone window" : "terminal phone") +
                   " runs on the real clock; --clock virtual needs --headless");
    if (options.window && (options.headless || options.child))
        return bad("--window and --headless are two different phones; choose one");
    if (options.scale != 0 && !options.window)
        return bad("--scale sets the size of the phone window; it needs --window");
    if (!options.headless && !options.child && !options.window && !(isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)))
        return bad("the terminal phone needs a terminal; use --headless to run without one");
    return true;
}

std::unique_ptr<FrontEnd> make_front_end(const Options& options) {
    if (options.child) return make_child(options.device.exe_path);
    if (options.headless) {
        HeadlessOptions h;
        if (!options.script.empty()) h.script = options.script;
        if (!options.log.empty()) h.log = options.log;
        if (!options.trace.empty()) h.trace = options.trace;
        h.no_start = options.no_start;
        return make_headless(std::move(h));
    }
    InteractiveOptions person;
    person.no_start = options.no_start;
    if (!options.log.empty()) person.log = options.log;
    if (!options.record.empty()) person.record = options.record;
    if (!options.window) return make_terminal(std::move(person));
    return make_window({std::move(person), options.scale});
}

int run_phone(const Options& options) {
    if (options.command_table) {
        std::cout << command_table_markdown();
        return kExitOk;
    }
    if (!options_fit(options)) return kExitBadInput;
    if (options.layout) {
        std::cout << layout_json(window_layout(options.scale ? options.scale : kDefaultWindowScale))
                  << "\n";
        return kExitOk;
    }
    SessionOptions session_options;
    session_options.device = options.device;
    const bool virtual_clock = options.clock.empty() ? options.headless || options.child : options.clock == "virtual";
    session_options.clock = virtual_clock ? handset::ClockKind::Virtual : handset::ClockKind::Real;
    session_options.speed = options.speed;
    session_options.time_origin_ms = options.time_origin;
    session_options.child = options.child;

    std::unique_ptr<FrontEnd> front_end = make_front_end(options);
    std::unique_ptr<Session> session;
    try {
        session = std::make_unique<Session>(session_options);
    } catch (const std::exception& e) {
        std::cerr << "quillon: " << e.what() << "\n";
        return options.child ? 125 : 1;
    }
    const int status = front_end->run();
    front_end.reset();
    session.reset();
    // The phone's threads are detached; one that is still ending would meet the static
    // objects that the exit destroys. A thread that does not end (a program hung in a
    // wait) leaves the host no safe teardown: it exits without one.
    if (!handset::wait_for_thread_exits(std::chrono::seconds(10))) {
        std::cerr << "quillon: a thread of the phone did not end; exiting without teardown\n";
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that went away (a closed pipe, a dropped socket peer) is an error of
    // that write, not the end of the phone.
    ::signal(SIGPIPE, SIG_IGN);
    // The phone's threads mostly take turns, so one heap serves them all; a heap of its
    // own cost each new thread a 64 MiB reservation and the faults of its first pages.
    ::mallopt(M_ARENA_MAX, 1);

    CLI::App app{"quillon: an emulated Windows Mobile handset with Quillon running on it"};
    Options options;
    const CommandWords words({argv + (argc > 0 ? 1 : 0), argv + argc});
    add_phone_options(app, options, words);
    const Companions companions(app, options.device, words);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError& e) {
        // A word where a companion's name goes is most likely a mistyped one.
        const std::vector<std::string> extras = app.remaining();
        if (!extras.empty() && !extras.front().empty() && extras.front()[0] != '-') {
            std::fprintf(stderr, "quillon: unknown companion `%s` (reg, ctl, trace or monkey; quillon --help)\n",
                         extras.front().c_str());
            return kExitBadInput;
        }
        return app.exit(e) == 0 ? 0 : kExitBadInput;
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitBadInput;
    }
    if (const std::optional<int> status = companions.run()) return *status;
    return run_phone(options);
}
