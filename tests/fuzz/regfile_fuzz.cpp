// Fuzzes the .reg importer: any bytes parse without crashing, and whatever a file
// imports, the exported text of the registry imports back to the same registry (an
// empty REG_SZ coming back with its terminator).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/handset/registry/regfile.h"
#include "tests/fuzz/fuzz_store.h"

namespace {

using namespace handset;

void check(bool ok) {
    if (!ok) std::abort();
}

RegistryStore& store() {
    static auto s = fuzz::open_scratch_store("regfile");
    return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<RegOp> ops;
    RegFileError error;
    if (!parse_reg_file(bytes, ops, error)) {
        check(ops.empty() && !error.message.empty());
        return 0;
    }
    RegistryStore& reg = store();
    fuzz::clear_store(reg);
    if (!import_reg_file(reg, bytes, error, Notify::Quiet)) {
        check(!error.message.empty());
        return 0;
    }
    for (RegRoot root : {RegRoot::CurrentUser, RegRoot::LocalMachine}) {
        RegTree before;
        check(reg.read_tree({root, u""}, before) == RegStatus::Ok);
        const std::string file = encode_utf16le_file(format_reg_text(root, before));
        // Export, empty the registry, import the export: the same tree comes back.
        fuzz::clear_store(reg);
        if (!import_reg_file(reg, file, error, Notify::Quiet)) std::abort();
        RegTree after;
        check(reg.read_tree({root, u""}, after) == RegStatus::Ok);
        check(fuzz::same_tree(before, after));
        // The other root is compared from the original import.
        fuzz::clear_store(reg);
        check(import_reg_file(reg, bytes, error, Notify::Quiet));
    }
    return 0;
}
