// `reg import`: a .reg file into the registry, in one transaction.
#include "platform/cli/reg/reg_operations.h"

#include <fstream>
#include <iterator>

#include "platform/handset/registry/regfile.h"

using namespace handset;

namespace cli::reg {

int import_file(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {});
    if (o.positional.size() != 1) throw SyntaxError{"import takes one FILE"};
    const std::string& file = o.positional[0];
    std::ifstream f(file, std::ios::binary);
    if (!f) throw ToolError{"Cannot open " + file + "."};
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad()) throw ToolError{"Cannot read " + file + "."};
    RegFileError error;
    std::vector<RegFileError> skipped;
    if (!import_reg_file(store, bytes, error, Notify::Events, &skipped))
        throw ToolError{file + ": " + error.describe() + "; nothing was imported."};
    // The platform's tool skips such lines silently; a user should know which did not import.
    for (const RegFileError& s : skipped)
        err << "WARNING: " << file << ": line " << s.line << " skipped: " << s.message << "\n";
    out << kDone << "\n";
    return 0;
}

}  // namespace cli::reg
