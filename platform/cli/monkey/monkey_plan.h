// The monkey's plans: a run's handset model and script of ordinary use, drawn from a
// seed over the program's own menus, dialogs and controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli::monkey {

// One run: the handset model its fresh device is made as, and its script, one
// handset command a line. The same seed and count always give the same plan.
struct Plan {
    std::string model;
    std::vector<std::string> actions;
};
Plan plan_run(std::uint64_t seed, int actions);

}  // namespace cli::monkey
