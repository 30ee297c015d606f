// The companions' command lines. reg and ctl hand their arguments on untouched and in
// order (the registry tool reads its own /v, /f and -?): CLI11 takes from them only
// --device and --model before the first plain word, and nothing from that word on.
// trace and monkey declare their own options.
#include "platform/cli/companions.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/cli/ctl/ctl.h"
#include "platform/cli/reg/reg_tool.h"
#include "platform/cli/trace/trace_log.h"
#include "platform/frontends/frontend.h"
#include "platform/phone/session.h"

using namespace handset;
using namespace phone;
using namespace frontends;

namespace cli {

namespace {

// A companion that takes the rest of the command line as it is. Without a help flag of
// its own: `quillon reg --help` is the registry tool's.
CLI::App* add_pass_through(CLI::App& app, const std::string& name, DeviceOptions& device) {
    CLI::App* command = app.add_subcommand(name)->prefix_command()->group("");
    command->set_help_flag();
    add_device_options(*command, device, CommandWords::all());
    return command;
}

// An optional folder of the monkey's: an empty one leaves the default.
auto folder_into(std::optional<std::filesystem::path>& folder) {
    return [&folder](const std::string& dir) {
        if (!dir.empty()) folder = dir;
    };
}

}  // namespace

Companions::Companions(CLI::App& app, DeviceOptions& device, const CommandWords& words) : app_(app), device_(device) {
    if (std::none_of(std::begin(kCompanionNames), std::end(kCompanionNames),
                     [&words](std::string_view name) { return words.names(name); }))
        return;
    reg_ = add_pass_through(app, "reg", device);
    ctl_ = add_pass_through(app, "ctl", device);
    trace_ = add_trace(app);
    monkey_ = add_monkey(app);
    // One companion at most: after its name, another's is an argument.
    app.require_subcommand(0, 1);
    app.get_formatter()->label("SUBCOMMAND", "COMPANION");
}

// The main app's footer, which a subcommand starts with, lists the companions: their
// help has none.
CLI::App* Companions::add_trace(CLI::App& app) {
    CLI::App* trace =
        app.add_subcommand("trace", "quillon trace: an event log as a trace for ui.perfetto.dev or chrome://tracing")
            ->group("")
            ->footer("");
    trace->add_option("EVENTS", trace_input_, "the event log (JSON lines), - for stdin")->required();
    trace->add_option("-o,--output", trace_output_, "the trace file to write")->required();
    return trace;
}

CLI::App* Companions::add_monkey(CLI::App& app) {
    CLI::App* monkey =
        app.add_subcommand(
               "monkey",
               "quillon monkey: random ordinary use of fresh phones, each run checked against Quillon's invariants")
            ->group("")
            ->footer("");
    monkey::Options& m = monkey_options_;
    monkey->add_option("--seed", m.seed, "seed of the first run; run i uses seed + i")
        ->type_name("N")
        ->capture_default_str();
    monkey->add_option("--runs", m.runs, "number of runs")
        ->type_name("N")
        ->check(CLI::Range(1, 100'000'000))
        ->capture_default_str();
    monkey->add_option("--actions", m.actions, "actions (script lines) per run")
        ->type_name("N")
        ->check(CLI::Range(1, 1'000'000))
        ->capture_default_str();
    monkey
        ->add_option_function<std::string>("--device", folder_into(m.device),
                                           "device folder each run remakes (default: one in a temporary folder)")
        ->type_name("DIR");
    monkey
        ->add_option_function<std::string>("--keep", folder_into(m.keep),
                                           "keep the failing runs' scripts, logs and devices here (default: only the "
                                           "shrunk scripts, in the current folder)")
        ->type_name("DIR");
    monkey->add_option("--jobs", m.jobs, "runs at once (default: one a core)")
        ->type_name("N")
        ->check(CLI::Range(1, 64));
    monkey->add_option("--watchdog", m.watchdog_seconds, "real seconds a run may take before it counts as hung")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86'400))
        ->default_str(std::to_string(monkey::default_watchdog_seconds()));
    return monkey;
}

std::optional<int> Companions::run() const {
    if (!reg_) return std::nullopt;
    if (reg_->parsed()) return run_reg();
    if (ctl_->parsed()) return run_ctl();
    if (trace_->parsed()) return run_trace();
    if (monkey_->parsed()) return run_monkey();
    return std::nullopt;
}

int Companions::run_reg() const {
    const std::vector<std::string> args = reg_->remaining();
    if (reg_help_requested(args)) return run_reg_tool(args, std::cout, std::cerr);
    try {
        DeviceOptions existing = device_;
        existing.must_exist = true;
        RegistrySession session(existing);
        return run_reg_tool(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "quillon reg: " << e.what() << "\n";
        return 1;
    }
}

int Companions::run_ctl() const {
    const std::vector<std::string> args = ctl_->remaining();
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << "quillon [--device DIR] ctl COMMAND...: one handset command to the phone running on the device,\n"
                     "its output and status as the command's own (`quillon ctl help` lists the commands)\n";
        return 0;
    }
    const std::filesystem::path folder = device_.folder.empty() ? Device::default_folder() : device_.folder;
    return cli::run_ctl(std::filesystem::absolute(folder), ctl_->remaining(), std::cout, std::cerr);
}

// Every line that can be read is converted; each one that cannot is named on stderr,
// and then the status says the trace is partial.
int Companions::run_trace() const {
    const std::string& input = trace_input_;
    std::ifstream file;
    if (input != "-") {
        file.open(input, std::ios::binary);
        if (!file) {
            std::cerr << "quillon trace: cannot read " << input << ": " << std::strerror(errno) << "\n";
            return kExitCommandFailed;
        }
    }
    TraceBuilder builder;
    const LogTrace converted = trace_from_log(input == "-" ? std::cin : file, builder);
    for (const auto& bad : converted.bad_lines)
        std::cerr << "quillon trace: " << input << " line " << bad.line << ": " << bad.message << "\n";
    if (converted.command_output > 0)
        std::cerr << "quillon trace: " << input << ": skipped " << converted.command_output
                  << " line(s) of command output\n";
    if (converted.cut_last_line)
        std::cerr << "quillon trace: " << input << " line " << converted.cut_last_line->line << ": "
                  << converted.cut_last_line->message << "\n";
    std::string error;
    if (!write_trace(trace_output_, builder, error)) {
        std::cerr << "quillon trace: " << error << "\n";
        return kExitCommandFailed;
    }
    if (converted.bad_lines.empty()) return kExitOk;
    std::cerr << "quillon trace: " << converted.bad_lines.size() << " line(s) could not be read; " << trace_output_
              << " holds the other " << converted.events << " events\n";
    return kExitSomeLinesBad;
}

int Companions::run_monkey() const {
    const auto phone_options = app_.get_options();
    if (std::any_of(phone_options.begin(), phone_options.end(), [](const CLI::Option* o) { return o->count() > 0; })) {
        std::cerr << "quillon monkey: the phone's options do not apply; put the monkey's options after `monkey` (see "
                     "quillon monkey --help)\n";
        return kExitBadInput;
    }
    return monkey::run(monkey_options_, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}

}  // namespace cli
