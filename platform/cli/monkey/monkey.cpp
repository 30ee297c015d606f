// `quillon monkey`: runs the planned scripts in child phones under a watchdog, checks
// each run, shrinks the script of a failing one and reports (see monkey.h).
//
// Each child is `quillon --headless --reset` of this same executable, in a process
// group of its own, so that the watchdog (and a Ctrl-C of the monkey) also ends the
// second instance a `start` may have made inside it. The children themselves are
// monkey_process.h's, the progress line monkey_progress.h's and the shrinking
// monkey_shrink.cpp's; this file runs the seeds and reports.
#include "platform/cli/monkey/monkey.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/cli/monkey/monkey_checks.h"
#include "platform/cli/monkey/monkey_files.h"
#include "platform/cli/monkey/monkey_plan.h"
#include "platform/cli/monkey/monkey_process.h"
#include "platform/cli/monkey/monkey_progress.h"
#include "platform/cli/sanitizer_slowdown.h"
#include "platform/frontends/frontend.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/factory_values.h"
#include "res/resources.h"

using namespace handset;
using namespace frontends;

namespace cli::monkey {
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kSlowdown = kSanitizerSlowdown;

constexpr int kWatchdogSeconds = 5;
// Shrinking one failure stops after this many reruns or this much real time: a hang
// costs a whole watchdog period per rerun.
constexpr int kShrinkRuns = 100;
constexpr auto kShrinkTime = std::chrono::seconds(180 * kSlowdown);

// An option the monkey cannot work with.
class BadOption : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The --device folder is wiped before every run, so it must be new, empty or a device.
void check_device_folder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) return;
    if (!fs::is_directory(folder, ec)) throw BadOption("--device " + folder.string() + " is not a folder");
    if (fs::exists(folder / "device.model", ec) || fs::is_empty(folder, ec)) return;
    throw BadOption("--device " + folder.string() +
                    " holds files but no device; every run remakes the device from scratch, so name a new, "
                    "empty or device folder");
}

std::u16string program_folder() {
    const std::u16string exe = installed_program_path();
    return exe.substr(0, exe.rfind(u'\\'));
}

class Monkey {
public:
    Monkey(const Options& options, std::ostream& out, std::ostream& err, bool terminal)
        : options_(options),
          out_(out),
          progress_(err, terminal, options.runs),
          watchdog_(options.watchdog_seconds > 0 ? options.watchdog_seconds : default_watchdog_seconds()),
          exe_("/proc/self/exe") {}

    int run() {
        const InterruptGuard interrupts;
        prepare_work_folder();
        for (const char* model : {"skt", "ktf", "none"}) factory_book(model);  // read-only from here on
        const auto begun = SteadyClock::now();
        // Runs are separate processes on separate devices: as many at once as the
        // machine has cores, unless they share one --device folder.
        const int jobs = options_.device ? 1
                         : std::clamp(options_.jobs > 0 ? options_.jobs : static_cast<int>(std::thread::hardware_concurrency()),
                                      1, std::min(kMaxJobs, options_.runs));
        std::atomic<int> next{0};
        std::vector<Failure> failures;
        // The monkey's own failure (a work folder it cannot write, say) stops every
        // worker and is the run's end; the other workers' runs in hand finish first.
        std::exception_ptr stopped;
        const auto work = [&](int slot) {
            try {
                for (int i; (i = next++) < options_.runs;) {
                    const std::uint64_t seed = options_.seed + static_cast<std::uint64_t>(i);
                    std::optional<Failure> failure = run_seed(seed, running_group_of(slot));
                    std::lock_guard lock(mu_);
                    if (failure) {
                        progress_.clear();
                        out_ << "seed " << seed << " (model " << failure->plan.model
                             << "): " << failure->broken.invariant << ": " << failure->broken.detail << "\n"
                             << std::flush;
                        failures.push_back(std::move(*failure));
                    }
                    progress_.count(!failure);
                }
            } catch (...) {
                next = options_.runs;
                std::lock_guard lock(mu_);
                if (!stopped) stopped = std::current_exception();
            }
        };
        std::vector<std::thread> workers;
        for (int slot = 1; slot < jobs; ++slot) workers.emplace_back(work, slot);
        work(0);
        for (auto& w : workers) w.join();
        if (stopped) std::rethrow_exception(stopped);
        // Shrinking reruns one script at a time, in seed order, so that its reports read in order.
        std::sort(failures.begin(), failures.end(), [](const Failure& a, const Failure& b) { return a.seed < b.seed; });
        for (const Failure& f : failures) {
            const auto shrink_begun = SteadyClock::now();
            report_failure(f.seed, f.plan, f.broken);
            shrinking_ += SteadyClock::now() - shrink_begun;
        }
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - begun).count();
        const double shrinking = std::chrono::duration<double>(shrinking_).count();
        progress_.clear();
        std::ostringstream summary;
        summary.precision(3);
        summary << "monkey: " << options_.runs << " runs in " << seconds << " s";
        if (shrinking > 0) summary << " (" << shrinking << " s of it shrinking)";
        if (seconds > shrinking) summary << ", " << options_.runs / (seconds - shrinking) << " runs/s";
        summary << ", " << jobs << (jobs == 1 ? " job" : " jobs") << ", " << failures.size() << " failed";
        for (std::size_t i = 0; i < failures.size(); ++i) summary << (i == 0 ? ": seeds " : ", ") << failures[i].seed;
        out_ << summary.str() << "\n";
        return failures.empty() ? 0 : 1;
    }

    ~Monkey() {
        std::error_code ignored;
        if (!options_.keep && !work_.empty()) fs::remove_all(work_, ignored);
    }
    Monkey(const Monkey&) = delete;
    Monkey& operator=(const Monkey&) = delete;

private:
    void prepare_work_folder() {
        if (options_.keep) {
            work_ = fs::absolute(*options_.keep);
            fs::create_directories(work_);
        } else {
            std::string pattern = (fs::temp_directory_path() / "quillon-monkey-XXXXXX").string();
            if (!::mkdtemp(pattern.data()))
                throw std::runtime_error("cannot make a work folder in " + fs::temp_directory_path().string() + ": " +
                                         std::strerror(errno));
            work_ = pattern;
        }
    }

    struct Failure {
        std::uint64_t seed;
        Plan plan;
        Violation broken;
    };

    const RegTree& factory_book(const std::string& model) {
        auto it = factory_books_.find(model);
        if (it != factory_books_.end()) return it->second;
        // Named for this process: monkeys may share a --keep folder.
        const fs::path file = work_ / ("factory-" + model + "-" + std::to_string(::getpid()) + ".db");
        RegTree tree;
        {
            RegistryStore store(file.string());
            if (write_factory_registry(store, model) != RegStatus::Ok)
                throw std::runtime_error("cannot write the factory registry of model " + model);
        }
        tree = read_phone_book(file);
        for (const char* suffix : {"", "-wal", "-shm", ".lock"}) fs::remove(file.string() + suffix);
        return factory_books_.emplace(model, std::move(tree)).first->second;
    }

    // Plays `actions` on a fresh device of `model` with its files in `folder`; the
    // violations of the run.
    std::vector<Violation> play(const std::string& model, const std::vector<std::string>& actions,
                                const fs::path& folder, std::atomic<pid_t>& running_group) {
        fs::create_directories(folder);
        std::string script;
        for (const auto& a : actions) script += a + "\n";
        write_text(folder / "actions.script", script);
        const fs::path device = options_.device ? fs::absolute(*options_.device) : folder / "device";
        const std::vector<std::string> args{exe_,       "--headless", "--reset", "--model",
                                            model,      "--device",   device.string(),
                                            "--script", (folder / "actions.script").string(),
                                            "--log",    (folder / "events.log").string()};
        RunRecord record;
        record.end = run_child(args, folder / "stderr.txt", std::chrono::seconds(watchdog_), running_group);
        record.log = read_lines(folder / "events.log");
        record.factory_book = factory_book(model);
        record.program_folder = program_folder();
        record.main_dialog = IDD_MAIN;
        // A registry the run left unreadable is a finding of the run, not the monkey's end.
        std::string unreadable;
        try {
            if (fs::exists(device / "registry.db")) record.book = read_phone_book(device / "registry.db");
            else unreadable = "the device has no registry";
        } catch (const std::exception& e) {
            unreadable = e.what();
        }
        std::vector<Violation> violations = check_run(record);
        if (!unreadable.empty()) violations.push_back({kPhoneBook, unreadable});
        return violations;
    }

    // One seed's run: its failure, if it broke an invariant.
    std::optional<Failure> run_seed(std::uint64_t seed, std::atomic<pid_t>& running_group) {
        Plan plan = plan_run(seed, options_.actions);
        const fs::path folder = work_ / ("seed-" + std::to_string(seed));
        std::vector<Violation> violations = play(plan.model, plan.actions, folder, running_group);
        if (violations.empty() || !options_.keep) fs::remove_all(folder);
        if (violations.empty()) return std::nullopt;
        return Failure{seed, std::move(plan), std::move(violations.front())};
    }

    void report_failure(std::uint64_t seed, const Plan& plan, const Violation& broken) {
        const fs::path folder = work_ / ("seed-" + std::to_string(seed) + "-shrink");
        const auto stop_at = SteadyClock::now() + kShrinkTime;
        Violation last = broken;
        int reruns = 0;
        const FailurePredicate same_failure =
            [&](const std::vector<std::string>& candidate) -> std::optional<bool> {
            if (SteadyClock::now() >= stop_at) return std::nullopt;
            progress_.show("shrinking seed " + std::to_string(seed) + ": rerun " + std::to_string(++reruns) + ", " +
                           std::to_string(candidate.size()) + " actions");
            for (const auto& v : play(plan.model, candidate, folder, running_group_of(0))) {
                if (v.invariant != broken.invariant) continue;
                last = v;
                return true;
            }
            return false;
        };
        // A failure that a rerun of the same script does not repeat depends on more
        // than the script (a race between processes): shrinking it would only chase luck.
        const bool repeats = same_failure(plan.actions).value_or(false);
        const std::vector<std::string> shrunk =
            repeats ? shrink(plan.actions, same_failure, kShrinkRuns) : plan.actions;
        fs::remove_all(folder);
        progress_.clear();

        const fs::path target =
            (options_.keep ? work_ : fs::current_path()) / ("monkey-seed-" + std::to_string(seed) + ".script");
        std::ostringstream script;
        script << "# quillon monkey, seed " << seed << ": breaks " << broken.invariant << "\n"
               << "#   " << last.detail << "\n";
        if (!repeats) script << "# The failure did not repeat on a rerun of this script: it depends on timing.\n";
        script << "# On a fresh device:\n"
               << "#   quillon --headless --reset --model " << plan.model << " --device DIR --script "
               << target.filename().string() << "\n";
        for (const auto& a : shrunk) script << a << "\n";
        write_text(target, script.str());
        if (repeats)
            out_ << "  shrunk from " << plan.actions.size() << " to " << shrunk.size() << " actions in " << reruns
                 << " reruns: " << target.string() << "\n";
        else
            out_ << "  did not repeat on a rerun (it depends on timing); not shrunk: " << target.string() << "\n";
        out_ << std::flush;
    }

    const Options& options_;
    std::ostream& out_;
    Progress progress_;
    int watchdog_;
    std::string exe_;  // this very executable, even when a rebuild has replaced its file
    fs::path work_;
    std::map<std::string, RegTree> factory_books_;
    std::mutex mu_;  // the output and the progress line, between the workers
    SteadyClock::duration shrinking_{};  // spent on reruns of failing scripts
};

}  // namespace

int default_watchdog_seconds() { return kWatchdogSeconds * kSlowdown; }

int run(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal) {
    try {
        if (options.device) check_device_folder(*options.device);
        return Monkey(options, out, err, err_is_terminal).run();
    } catch (const BadOption& e) {
        err << "quillon monkey: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::exception& e) {
        err << "\nquillon monkey: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace cli::monkey
