// `quillon reg`: the command-line registry tool of the device, following the
// conventions of the platform's own reg tool.
//
//   reg query  KEY [/v NAME | /ve] [/s]
//   reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg export KEY FILE [/y]
//   reg import FILE
//
// KEY is HKCU\..., HKLM\..., HKEY_CURRENT_USER\... or HKEY_LOCAL_MACHINE\...; options
// may start with / or - and are case-insensitive; /? (or /h, -?, -h) prints the usage,
// of one operation when it follows one. The platform's tool asks before it
// overwrites or deletes; this one cannot ask, so it refuses unless /f (or /y for an
// existing export file) says to go ahead.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Runs one reg command on the current registry (the caller opens the device's
// registry first). `args` starts with the operation ("query", ...). Output goes to
// `out`, "ERROR: ..." messages to `err`. Returns the exit status: 0 or 1.
int run_reg_tool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Whether `args` only ask for the usage, which needs no registry.
bool reg_help_requested(const std::vector<std::string>& args);

}  // namespace cli
