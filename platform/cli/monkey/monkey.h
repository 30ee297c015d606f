// `quillon monkey`: random ordinary use of the phone, run after run on fresh devices,
// each run checked against the program's invariants (monkey_checks.h).
//
// A run is a script of handset commands drawn from a seed (monkey_plan.h), played by the
// headless phone in a child process under a real-time watchdog. A run that breaks an
// invariant is reported with its seed, and its script is shrunk by delta debugging to a
// small one that still breaks the same invariant, written out to reproduce it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli::monkey {

struct Options {
    std::uint64_t seed = 1;  // run i uses seed + i
    int runs = 100;
    int actions = 60;  // script lines of a run
    // The device folder every run makes afresh; default: one in the work folder.
    std::optional<std::filesystem::path> device;
    // Where the failing runs' folders and reproducing scripts stay; default: the
    // scripts go to the current folder and the rest is removed.
    std::optional<std::filesystem::path> keep;
    // Real time a run may take before it counts as hung; 0: the build's default.
    int watchdog_seconds = 0;
    // Runs at once; 0: one a core. A shared --device folder means one at a time.
    int jobs = 0;
};

// The default watchdog: a few seconds, stretched in sanitizer builds.
int default_watchdog_seconds();

// Delta debugging (ddmin): a subset of `items`, in their order, for which `fails` still
// holds and from which no single chunk of the final granularity can be removed;
// `fails(items)` is taken to hold. `fails` answers nothing when the budget of the
// caller is spent; at most `max_tests` calls are made. Either way the smallest failing
// subset found so far is returned.
using FailurePredicate = std::function<std::optional<bool>(const std::vector<std::string>&)>;
std::vector<std::string> shrink(std::vector<std::string> items, const FailurePredicate& fails, int max_tests);

// Runs the monkey; reports on `out`, progress on `err` (one line updated in place when
// `err` is a terminal, plain lines otherwise). Returns 0 when every run passed, 1 when
// one failed or the monkey could not run, 2 when an option cannot be used (a --device
// folder that holds something other than a device).
int run(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal);

}  // namespace cli::monkey
