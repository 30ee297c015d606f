// The companions of the `quillon` command line, each a subcommand of its app: `reg`
// (the device's registry tool), `ctl` (one handset command in the running instance),
// `trace` (an event log as a trace for the viewers) and `monkey` (random use of fresh
// phones, checked and shrunk).
#pragma once

#include "platform/cli/options/cli11.h"  // before anything that may include <iostream>

#include <optional>
#include <string>

#include "platform/cli/monkey/monkey.h"
#include "platform/cli/options/phone_options.h"
#include "platform/handset/core/device.h"

namespace cli {

class Companions {
public:
    // Declares the companions on `app` when `words` may call on one. reg and ctl work on
    // `device`, which the app's own options fill in; both must outlive this object.
    Companions(CLI::App& app, handset::DeviceOptions& device, const CommandWords& words);
    Companions(const Companions&) = delete;
    Companions& operator=(const Companions&) = delete;

    // Once `app` has parsed: the exit status of the companion the command line named,
    // or nothing when it named none.
    std::optional<int> run() const;

private:
    CLI::App* add_trace(CLI::App& app);
    CLI::App* add_monkey(CLI::App& app);
    int run_reg() const;
    int run_ctl() const;
    int run_trace() const;
    int run_monkey() const;

    const CLI::App& app_;
    const handset::DeviceOptions& device_;
    // What the companions' options write: made before the subcommands that bind them.
    std::string trace_input_;
    std::string trace_output_;
    monkey::Options monkey_options_;
    // Null when the command line left the companions undeclared.
    CLI::App* reg_ = nullptr;
    CLI::App* ctl_ = nullptr;
    CLI::App* trace_ = nullptr;
    CLI::App* monkey_ = nullptr;
};

}  // namespace cli
