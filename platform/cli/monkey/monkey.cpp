// `quillon monkey`: runs the planned scripts in child phones under a watchdog, checks
// each run, shrinks the script of a failing one and reports (see monkey.h).
//
// Each child is `quillon --headless --reset` of this same executable, in a process
// group of its own, so that the watchdog (and a Ctrl-C of the monkey) also ends the
// second instance a `start` may have made inside it.
#include "platform/cli/monkey/monkey.h"
#include "platform/cli/monkey/monkey_plan.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/frontends/frontend.h"
#include "platform/cli/monkey/monkey_checks.h"
#include "platform/handset/core/device.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/factory.h"
#include "platform/handset/registry/store.h"
#include "res/resources.h"

extern char** environ;

namespace handset::frontend::monkey {
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

// Sanitizer builds run the phone several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif

constexpr int kWatchdogSeconds = 5;
// Shrinking one failure stops after this many reruns or this much real time: a hang
// costs a whole watchdog period per rerun.
constexpr int kShrinkRuns = 100;
constexpr auto kShrinkTime = std::chrono::seconds(180 * kSlowdown);

// The process groups of the phones running now, one slot a worker, for the signal handler.
constexpr int kMaxJobs = 64;
std::array<std::atomic<pid_t>, kMaxJobs> g_running_groups{};

void end_running_groups(int signal_number) {
    for (auto& slot : g_running_groups) {
        const pid_t group = slot.load();
        if (group > 0) ::kill(-group, SIGKILL);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// While it lives, an interrupted or terminated monkey takes its running phone along.
class InterruptGuard {
public:
    InterruptGuard() {
        struct sigaction action {};
        action.sa_handler = &end_running_groups;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
    }
    ~InterruptGuard() {
        for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> previous_{};
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> read_lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
    return lines;
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Runs `args` (the executable first) with stdin and stdout on /dev/null and stderr
// into `err_file`, and waits for its end at most `watchdog` of real time; past it the
// whole process group is killed and the run counts as hung.
RunEnd run_child(const std::vector<std::string>& args, const fs::path& err_file, std::chrono::seconds watchdog,
                 std::atomic<pid_t>& running_group) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw std::runtime_error("cannot start the phone " + args[0] + ": " + std::strerror(rc));
    running_group = pid;

    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    RunEnd end;
    if (pidfd < 0) {
        const int error = errno;
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        running_group = 0;
        throw std::runtime_error(std::string("cannot watch the phone's process (pidfd_open): ") + std::strerror(error));
    }
    const auto deadline = SteadyClock::now() + watchdog;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            end.hung = true;
            break;
        }
        pollfd fd{pidfd, POLLIN, 0};
        const int n = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (n > 0) break;
        if (n < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    ::close(pidfd);
    if (end.hung) ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // A phone that did not end by itself may leave a second instance behind.
    if (end.hung || WIFSIGNALED(status)) ::kill(-pid, SIGKILL);
    running_group = 0;
    if (!end.hung && WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    if (WIFEXITED(status)) end.exit_code = WEXITSTATUS(status);
    end.diagnostics = read_text(err_file);
    return end;
}

// HKCU Comm\RasBook of a registry file; no subkeys when it is not there.
RegTree read_phone_book(const fs::path& registry_file) {
    RegTree tree;
    RegistryStore store(registry_file.string());
    const RegStatus status = store.read_tree({RegRoot::CurrentUser, u"Comm\\RasBook"}, tree);
    if (status != RegStatus::Ok && status != RegStatus::NotFound)
        throw std::runtime_error("cannot read the phone book of " + registry_file.string() + ": " + describe(status));
    return tree;
}

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

// The progress line: runs done and failures so far.
class Progress {
public:
    Progress(std::ostream& err, bool terminal, int total)
        : err_(err), terminal_(terminal), total_(total), step_(std::max(1, total / 10)) {}

    void count(bool passed) {
        ++done_;
        if (!passed) ++failed_;
        show();
    }
    // On a terminal the line also says what the monkey is doing now.
    void show(const std::string& doing = {}) {
        const std::string line = "monkey: " + std::to_string(done_) + "/" + std::to_string(total_) + " runs, " +
                                 std::to_string(failed_) + " failed" + (doing.empty() ? "" : " (" + doing + ")");
        if (terminal_) {
            err_ << "\r\033[K" << line << std::flush;
            shown_ = true;
        } else if (doing.empty() && (done_ % step_ == 0 || done_ == total_)) {
            err_ << line << "\n" << std::flush;
        }
    }
    // Clears the line in place before other output.
    void clear() {
        if (terminal_ && shown_) err_ << "\r\033[K" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool terminal_;
    int total_;
    int step_;
    int done_ = 0;
    int failed_ = 0;
    bool shown_ = false;
};

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
        const auto work = [&](int slot) {
            for (int i; (i = next++) < options_.runs;) {
                const std::uint64_t seed = options_.seed + static_cast<std::uint64_t>(i);
                std::optional<Failure> failure = run_seed(seed, g_running_groups[slot]);
                std::lock_guard lock(mu_);
                if (failure) {
                    progress_.clear();
                    out_ << "seed " << seed << " (model " << failure->plan.model << "): " << failure->broken.invariant
                         << ": " << failure->broken.detail << "\n" << std::flush;
                    failures.push_back(std::move(*failure));
                }
                progress_.count(!failure);
            }
        };
        std::vector<std::thread> workers;
        for (int slot = 1; slot < jobs; ++slot) workers.emplace_back(work, slot);
        work(0);
        for (auto& w : workers) w.join();
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
            for (const auto& v : play(plan.model, candidate, folder, g_running_groups[0])) {
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

// `items` cut into `n` runs of nearly equal length, in order.
std::vector<std::vector<std::string>> split(const std::vector<std::string>& items, std::size_t n) {
    std::vector<std::vector<std::string>> parts;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t end = begin + (items.size() - begin) / (n - i);
        parts.emplace_back(items.begin() + static_cast<long>(begin), items.begin() + static_cast<long>(end));
        begin = end;
    }
    return parts;
}

}  // namespace

int default_watchdog_seconds() { return kWatchdogSeconds * kSlowdown; }

std::vector<std::string> shrink(std::vector<std::string> items, const FailurePredicate& fails, int max_tests) {
    // A subset seen before did not fail: a failing one would have been taken.
    std::set<std::vector<std::string>> tried{items};
    int tests = 0;
    bool spent = false;
    auto test = [&](const std::vector<std::string>& candidate) {
        if (spent || !tried.insert(candidate).second) return false;
        if (tests >= max_tests) {
            spent = true;
            return false;
        }
        ++tests;
        const std::optional<bool> answer = fails(candidate);
        if (!answer) spent = true;
        return answer.value_or(false);
    };

    std::size_t n = 2;
    while (items.size() >= 2 && !spent) {
        const auto parts = split(items, n);
        bool reduced = false;
        for (const auto& part : parts) {
            if (test(part)) {
                items = part;
                n = 2;
                reduced = true;
                break;
            }
        }
        // With two parts each complement is the other part, tried just now.
        for (std::size_t i = 0; !reduced && n > 2 && i < parts.size(); ++i) {
            std::vector<std::string> complement;
            for (std::size_t j = 0; j < parts.size(); ++j)
                if (j != i) complement.insert(complement.end(), parts[j].begin(), parts[j].end());
            if (test(complement)) {
                items = std::move(complement);
                n = std::max<std::size_t>(n - 1, 2);
                reduced = true;
            }
        }
        if (reduced) continue;
        if (n >= items.size()) break;
        n = std::min(items.size(), n * 2);
    }
    return items;
}

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

}  // namespace handset::frontend::monkey
