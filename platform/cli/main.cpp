// The `quillon` executable: the emulated phone with Quillon running on it, set up by
// the phone's options, or the companion (companions.h) that the command line names.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include "platform/cli/options/cli11.h"  // before anything that may include <iostream>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/cli/companions.h"
#include "platform/cli/options/phone_options.h"
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

// False, with the reason on stderr, for options that do not go together.
bool options_fit(const PhoneOptions& options) {
    const auto bad = [](const std::string& message) {
        std::fprintf(stderr, "quillon: %s\n", message.c_str());
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

std::unique_ptr<FrontEnd> make_front_end(const PhoneOptions& options) {
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

// The phone run as `options` say, printing through stdio alone: the standard streams
// may not have been made.
int run_phone(const PhoneOptions& options) {
    if (options.command_table) {
        std::fputs(command_table_markdown().c_str(), stdout);
        return kExitOk;
    }
    if (!options_fit(options)) return kExitBadInput;
    if (options.layout) {
        const std::string layout = layout_json(window_layout(options.scale ? options.scale : kDefaultWindowScale));
        std::printf("%s\n", layout.c_str());
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
        std::fprintf(stderr, "quillon: %s\n", e.what());
        return options.child ? 125 : 1;
    }
    const int status = front_end->run();
    front_end.reset();
    session.reset();
    // The phone's threads are detached; one that is still ending would meet the static
    // objects that the exit destroys. A thread that does not end (a program hung in a
    // wait) leaves the host no safe teardown: it exits without one.
    if (!handset::wait_for_thread_exits(std::chrono::seconds(10))) {
        std::fputs("quillon: a thread of the phone did not end; exiting without teardown\n", stderr);
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

    const std::span<const char* const> args{argv + (argc > 0 ? 1 : 0), argv + argc};
    // The phone's plain command line needs neither CLI11 nor the standard streams.
    if (PhoneOptions plain; read_plain_phone_words(args, plain)) return run_phone(plain);

    // Any other may print help or errors through them, or run a companion that does.
    const std::ios_base::Init standard_streams;
    CLI::App app{"quillon: an emulated Windows Mobile handset with Quillon running on it"};
    PhoneOptions options;
    const CommandWords words(args);
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
