// `quillon ctl`: one handset command in the running instance of a device.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// `quillon ctl ARGS...` against the running instance of the device in `device_folder`:
// prints the output to `out`, errors to `err`; returns the process exit status.
int run_ctl(const std::filesystem::path& device_folder, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err);

}  // namespace cli
