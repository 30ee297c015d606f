// `reg delete`: a value, every value of a key, or a key with its subtree; only with /f.
#include "platform/cli/reg/reg_operations.h"

using namespace handset;

namespace cli::reg {

int remove(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {{"v", true}, {"ve", false}, {"va", false}, {"f", false}});
    if (o.positional.size() != 1) throw SyntaxError{"delete takes one KEY"};
    if (o.has("v") + o.has("ve") + o.has("va") > 1) throw SyntaxError{"/v, /ve and /va exclude each other"};
    const RegKeyPath key = key_arg(o.positional[0]);
    std::vector<RegOp> ops;
    std::string what;
    if (o.has("v") || o.has("ve")) {
        ops.push_back(RegOp::delete_value(key, value_arg(o), true));
        what = "the value " + (o.has("ve") ? std::string("(Default)") : "\"" + o.arg("v") + "\"") + " of " +
               format_key_path(key, true);
    } else if (o.has("va")) {
        RegTree tree;
        const RegStatus st = store.read_tree(key, tree);
        if (st != RegStatus::Ok) store_failure(store, st);
        for (const auto& v : tree.values) ops.push_back(RegOp::delete_value(key, v.name));
        what = "every value of " + format_key_path(key, true);
    } else {
        if (key.path.empty()) throw ToolError{"A root key cannot be deleted."};
        ops.push_back(RegOp::delete_key(key, true));
        what = "the registry key " + format_key_path(key, true) + " and all its subkeys";
    }
    if (!o.has("f")) throw ToolError{"Deleting " + what + " needs /f (this tool does not ask for confirmation)."};
    const RegStatus st = store.apply(ops);
    if (st != RegStatus::Ok) store_failure(store, st);
    out << kDone << "\n";
    return 0;
}

}  // namespace cli::reg
