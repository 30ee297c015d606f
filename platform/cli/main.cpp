// The `quillon` executable: the emulated phone with Quillon running on it, and its
// command-line companions `quillon reg ...` (the device's registry tool),
// `quillon ctl ...` (one handset command in the running instance), `quillon trace ...`
// (an event log as a trace for the trace viewers) and `quillon monkey ...` (random use
// of fresh phones, checked and shrunk).
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/phone/commands.h"
#include "platform/cli/ctl/ctl.h"
#include "platform/frontends/frontend.h"
#include "platform/cli/monkey/monkey.h"
#include "platform/phone/session.h"
#include "platform/cli/trace/trace_log.h"
#include "platform/frontends/window/window_layout.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/kernel.h"
#include "platform/cli/reg/reg_tool.h"

namespace fe = handset::frontend;

namespace {

struct Options {
    std::string device;
    std::string model = "skt";
    bool reset = false;
    std::string exe_path;
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
};

// Options that take a value, so that the search for `reg`/`ctl`/`trace` skips their values.
bool takes_value(const std::string& arg) {
    static const char* names[] = {"--device", "--model", "--exe-path", "--script", "--log", "--record", "--trace", "--clock",
                                  "--speed", "--time-origin", "--scale"};
    for (const char* n : names)
        if (arg == n) return true;
    return false;
}

handset::DeviceOptions device_options(const Options& o) {
    handset::DeviceOptions d;
    d.folder = o.device;
    d.model = o.model;
    d.reset = o.reset;
    if (!o.exe_path.empty()) d.exe_path = handset::to_utf16(o.exe_path);
    return d;
}

// `quillon reg ...`: the remaining arguments go to the registry tool untouched.
int run_reg(const Options& options, const std::vector<std::string>& args) {
    try {
        fe::RegistrySession session(device_options(options));
        return handset::run_reg_tool(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "quillon reg: " << e.what() << "\n";
        return 1;
    }
}

int run_ctl(const Options& options, const std::vector<std::string>& args) {
    const std::filesystem::path folder = options.device.empty() ? handset::Device::default_folder()
                                                                : std::filesystem::path(options.device);
    return fe::run_ctl(std::filesystem::absolute(folder), args, std::cout, std::cerr);
}

// `quillon trace EVENTS -o RUN.json`: every line that can be read is converted; each
// one that cannot is named on stderr, and then the status says the trace is partial.
int run_trace(const std::vector<std::string>& args) {
    CLI::App app{"quillon trace: an event log as a trace for ui.perfetto.dev or chrome://tracing"};
    std::string input;
    std::string output;
    app.add_option("EVENTS", input, "the event log (JSON lines), - for stdin")->required();
    app.add_option("-o,--output", output, "the trace file to write")->required();
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : fe::kExitBadInput;
    }
    std::ifstream file;
    if (input != "-") {
        file.open(input, std::ios::binary);
        if (!file) {
            std::cerr << "quillon trace: cannot read " << input << ": " << std::strerror(errno) << "\n";
            return fe::kExitCommandFailed;
        }
    }
    fe::TraceBuilder builder;
    const fe::LogTrace converted = fe::trace_from_log(input == "-" ? std::cin : file, builder);
    for (const auto& bad : converted.bad_lines)
        std::cerr << "quillon trace: " << input << " line " << bad.line << ": " << bad.message << "\n";
    if (converted.cut_last_line)
        std::cerr << "quillon trace: " << input << " line " << converted.cut_last_line->line << ": "
                  << converted.cut_last_line->message << "\n";
    std::string error;
    if (!fe::write_trace(output, builder, error)) {
        std::cerr << "quillon trace: " << error << "\n";
        return fe::kExitCommandFailed;
    }
    if (converted.bad_lines.empty()) return fe::kExitOk;
    std::cerr << "quillon trace: " << converted.bad_lines.size() << " line(s) could not be read; " << output
              << " holds the other " << converted.events << " events\n";
    return fe::kExitSomeLinesBad;
}

// `quillon monkey ...`: its own options; none of the phone's apply.
int run_monkey(const std::vector<std::string>& args) {
    namespace monkey = fe::monkey;
    monkey::Options m;
    std::string device, keep;
    CLI::App app{"quillon monkey: random ordinary use of fresh phones, each run checked against Quillon's invariants"};
    app.name("quillon monkey");
    app.add_option("--seed", m.seed, "seed of the first run; run i uses seed + i")->type_name("N")->capture_default_str();
    app.add_option("--runs", m.runs, "number of runs")
        ->type_name("N")
        ->check(CLI::Range(1, 100'000'000))
        ->capture_default_str();
    app.add_option("--actions", m.actions, "actions (script lines) per run")
        ->type_name("N")
        ->check(CLI::Range(1, 1'000'000))
        ->capture_default_str();
    app.add_option("--device", device, "device folder each run remakes (default: one in a temporary folder)")
        ->type_name("DIR");
    app.add_option("--keep", keep,
                   "keep the failing runs' scripts, logs and devices here (default: only the shrunk scripts, in the "
                   "current folder)")
        ->type_name("DIR");
    app.add_option("--jobs", m.jobs, "runs at once (default: one a core)")->type_name("N")->check(CLI::Range(1, 64));
    app.add_option("--watchdog", m.watchdog_seconds, "real seconds a run may take before it counts as hung")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86'400))
        ->default_str(std::to_string(monkey::default_watchdog_seconds()));
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : fe::kExitBadInput;
    }
    if (!device.empty()) m.device = device;
    if (!keep.empty()) m.keep = keep;
    return monkey::run(m, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}

int run_phone(const Options& options) {
    if (options.layout) {
        if (!options.window) {
            std::cerr << "quillon: --layout lists the regions of the phone window; it needs --window\n";
            return fe::kExitBadInput;
        }
        std::cout << fe::layout_json(fe::window_layout(options.scale ? options.scale : fe::kDefaultWindowScale)) << "\n";
        return fe::kExitOk;
    }
    if (!options.record.empty() && (options.headless || options.child)) {
        std::cerr << "quillon: --record writes down a session at the keyboard; the headless phone already runs a script\n";
        return fe::kExitBadInput;
    }
    if ((!options.script.empty() || !options.trace.empty()) && !options.headless) {
        std::cerr << "quillon: " << (options.script.empty() ? "--trace" : "--script") << " needs --headless\n";
        return fe::kExitBadInput;
    }
    if (!options.headless && !options.child && options.clock == "virtual") {
        // Nothing in the terminal phone or the window holds virtual time back: it would race ahead.
        std::cerr << "quillon: the " << (options.window ? "phone window" : "terminal phone")
                  << " runs on the real clock; --clock virtual needs --headless\n";
        return fe::kExitBadInput;
    }
    if (options.window && (options.headless || options.child)) {
        std::cerr << "quillon: --window and --headless are two different phones; choose one\n";
        return fe::kExitBadInput;
    }
    if (options.scale != 0 && !options.window) {
        std::cerr << "quillon: --scale sets the size of the phone window; it needs --window\n";
        return fe::kExitBadInput;
    }
    if (!options.headless && !options.child && !options.window && !(isatty(STDIN_FILENO) && isatty(STDOUT_FILENO))) {
        std::cerr << "quillon: the terminal phone needs a terminal; use --headless to run without one\n";
        return fe::kExitBadInput;
    }
    fe::SessionOptions session;
    session.device = device_options(options);
    const bool virtual_clock = options.clock.empty() ? options.headless || options.child : options.clock == "virtual";
    session.clock = virtual_clock ? handset::ClockKind::Virtual : handset::ClockKind::Real;
    session.speed = options.speed;
    session.time_origin_ms = options.time_origin;

    std::unique_ptr<fe::FrontEnd> front_end;
    if (options.child) {
        front_end = fe::make_child(handset::to_utf16(options.exe_path));
    } else if (options.headless) {
        fe::HeadlessOptions h;
        if (!options.script.empty()) h.script = options.script;
        if (!options.log.empty()) h.log = options.log;
        if (!options.trace.empty()) h.trace = options.trace;
        h.no_start = options.no_start;
        front_end = fe::make_headless(std::move(h));
    } else if (options.window) {
        fe::WindowOptions w;
        if (options.scale != 0) w.scale = options.scale;
        w.no_start = options.no_start;
        if (!options.log.empty()) w.log = options.log;
        if (!options.record.empty()) w.record = options.record;
        front_end = fe::make_window(std::move(w));
    } else {
        fe::InteractiveOptions t;
        t.no_start = options.no_start;
        if (!options.log.empty()) t.log = options.log;
        if (!options.record.empty()) t.record = options.record;
        front_end = fe::make_terminal(std::move(t));
    }

    std::unique_ptr<fe::Session> phone;
    try {
        phone = std::make_unique<fe::Session>(session);
    } catch (const std::exception& e) {
        std::cerr << "quillon: " << e.what() << "\n";
        return options.child ? 125 : 1;
    }
    const int status = front_end->run();
    front_end.reset();
    phone.reset();
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

    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t sub = args.size();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "reg" || args[i] == "ctl" || args[i] == "trace" || args[i] == "monkey") {
            sub = i;
            break;
        }
        if (takes_value(args[i])) ++i;
    }
    std::vector<std::string> rest;
    std::string command;
    if (sub < args.size()) {
        command = args[sub];
        rest.assign(args.begin() + static_cast<long>(sub) + 1, args.end());
        args.resize(sub);
        if (command == "monkey") {
            if (!args.empty()) {
                std::cerr << "quillon monkey: the phone's options do not apply; put the monkey's options after "
                             "`monkey` (see quillon monkey --help)\n";
                return fe::kExitBadInput;
            }
            return run_monkey(rest);
        }
        // `quillon reg --device DIR ...` names the device after the subcommand, too.
        while (rest.size() >= 2 && (rest[0] == "--device" || rest[0] == "--model")) {
            args.push_back(rest[0]);
            args.push_back(rest[1]);
            rest.erase(rest.begin(), rest.begin() + 2);
        }
    }

    Options o;
    CLI::App app{"quillon: an emulated Windows Mobile handset with Quillon running on it"};
    app.footer(
        "Companions:\n"
        "  quillon [--device DIR] reg query|add|delete|export|import ...   the device's registry tool\n"
        "  quillon [--device DIR] ctl COMMAND ...                            one handset command in the running phone\n"
        "  quillon trace EVENTS.jsonl -o RUN.json                            an event log as a trace for the viewers\n"
        "  quillon monkey [--seed N] [--runs N] [--actions N] [--device DIR] [--keep DIR]   random use, checked\n"
        "Terminal and window keys: F1/F2 soft keys, Esc Back, Enter, arrows, * # 0-9, : command line, F10 quit.");
    app.add_option("--device", o.device, "device folder (default: $XDG_STATE_HOME/quillon/device)");
    app.add_option("--model", o.model, "handset model of a new device: skt, ktf or none")
        ->check(CLI::IsMember({"skt", "ktf", "none"}));
    app.add_flag("--reset", o.reset, "recreate the device folder in factory state");
    app.add_option("--exe-path", o.exe_path, "device path Quillon is started from")
        ->check([](const std::string& p) {
            return !p.empty() && p[0] == '\\' ? std::string() : "must be an absolute device path (\\Folder\\x.exe)";
        });
    app.add_flag("--headless", o.headless, "no screen: handset commands drive the phone, events go to stdout");
    app.add_flag("--window", o.window, "the phone in a window of the desktop (SDL2) instead of the terminal");
    app.add_option("--scale", o.scale, "window: screen pixels per handset pixel (default 2)")
        ->type_name("N")
        ->check(CLI::Range(fe::kMinWindowScale, fe::kMaxWindowScale));
    app.add_flag("--layout", o.layout, "window: print its clickable regions at --scale as JSON and leave");
    app.add_option("--script", o.script, "headless: read the commands from FILE instead of stdin");
    app.add_option("--log", o.log, "write the events to FILE");
    app.add_option("--record", o.record, "write the session down as a headless script to FILE (terminal, window)");
    app.add_option("--trace", o.trace, "headless: also write the run as a trace to FILE at its end");
    app.add_option("--clock", o.clock, "real or virtual (default: virtual headless, real in the terminal)")
        ->check(CLI::IsMember({"real", "virtual"}));
    app.add_option("--speed", o.speed, "speed factor of the real clock")->check(CLI::PositiveNumber);
    app.add_flag("--no-start", o.no_start, "do not start Quillon; the commands start it with `start`");
    app.add_flag("--child-program", o.child)->group("");
    app.add_option("--time-origin", o.time_origin)->group("");
    bool command_table = false;
    app.add_flag("--command-table", command_table, "print the handset commands as the README's Markdown table")
        ->group("");

    std::vector<char*> cli_argv{argv[0]};
    for (auto& a : args) cli_argv.push_back(a.data());
    try {
        app.parse(static_cast<int>(cli_argv.size()), cli_argv.data());
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : fe::kExitBadInput;
    }

    if (command == "trace") return run_trace(rest);
    if (command_table) {
        std::cout << fe::command_table_markdown();
        return 0;
    }
    if (command == "reg") return run_reg(o, rest);
    if (command == "ctl") return run_ctl(o, rest);
    if (o.child && (o.device.empty() || o.exe_path.empty())) {
        std::cerr << "quillon: --child-program needs --device and --exe-path\n";
        return fe::kExitBadInput;
    }
    return run_phone(o);
}
