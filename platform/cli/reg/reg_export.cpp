// `reg export`: a key's subtree into a .reg file.
#include "platform/cli/reg/reg_operations.h"

#include <filesystem>
#include <fstream>

#include "platform/handset/registry/regfile.h"

using namespace handset;

namespace cli::reg {

int export_key(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {{"y", false}});
    if (o.positional.size() != 2) throw SyntaxError{"export takes KEY and FILE"};
    if (o.has("y") && (args[1] != o.positional[0] || args[2] != o.positional[1]))
        throw SyntaxError{"/y goes after KEY and FILE"};
    const RegKeyPath key = key_arg(o.positional[0]);
    const std::string& file = o.positional[1];
    std::error_code ec;
    if (!o.has("y") && std::filesystem::exists(file, ec))
        throw ToolError{"The file " + file + " already exists; add /y to overwrite it."};
    std::string bytes;
    const RegStatus st = export_reg_file(store, key, bytes);
    if (st != RegStatus::Ok) store_failure(store, st);
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) throw ToolError{"Cannot write " + file + "."};
    out << kDone << "\n";
    return 0;
}

}  // namespace cli::reg
