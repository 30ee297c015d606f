// Fuzzes the .reg round trip as `reg export` and `reg import` make it, from a registry
// that no .reg file had to make: keys and values with names of any UTF-16 and data of
// any type and bytes. A key's export imports into an empty registry with no line
// skipped, as the same keys and values, and that exports again as the same bytes.
//
// Input: up to 16 steps, each a key below HKCU\Fuzz (up to three names more) and a
// value to set in it, or none.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/handset/registry/regfile.h"
#include "tests/fuzz/fuzz_store.h"

namespace {

using namespace handset;

const RegKeyPath kTop{RegRoot::CurrentUser, u"Fuzz"};

void check(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what.c_str());
    std::abort();
}

RegistryStore& store() {
    static auto s = fuzz::open_scratch_store("regexport");
    return *s;
}

// A name: mostly ASCII, now and then any UTF-16 code unit (line breaks, quotes,
// brackets, surrogates).
std::u16string text(FuzzedDataProvider& in, std::size_t longest) {
    std::u16string out(in.ConsumeIntegralInRange<std::size_t>(0, longest), u'\0');
    for (char16_t& c : out) {
        const auto b = in.ConsumeIntegral<std::uint8_t>();
        c = b < 0xF0 ? static_cast<char16_t>(b & 0x7F) : in.ConsumeIntegral<char16_t>();
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    RegistryStore& reg = store();
    fuzz::clear_store(reg);
    const RegOp top = RegOp::create_key(kTop);
    check(reg.apply({&top, 1}, Notify::Quiet) == RegStatus::Ok, "create the top key");
    for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
        RegKeyPath key = kTop;
        for (int depth = in.ConsumeIntegralInRange(0, 3); depth > 0; --depth) key.path += u'\\' + text(in, 8);
        // A .reg file gives a key a line of its own: a name with a line break has no
        // spelling there.
        if (key.path.find_first_of(u"\r\n") != std::u16string::npos) continue;
        const RegOp op = in.ConsumeBool()
                             ? RegOp::set_value(key, text(in, 12),
                                                in.ConsumeBool() ? in.ConsumeIntegralInRange<DWORD>(0, 11)
                                                                 : in.ConsumeIntegral<DWORD>(),
                                                in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 40)))
                             : RegOp::create_key(key);
        // Names the registry refuses (an empty one, a NUL, an unpaired surrogate) are no
        // part of the round trip.
        (void)reg.apply({&op, 1}, Notify::Quiet);
    }

    RegTree before;
    check(reg.read_tree(kTop, before) == RegStatus::Ok, "read the tree");
    std::string file;
    check(export_reg_file(reg, kTop, file) == RegStatus::Ok, "export");
    fuzz::clear_store(reg);
    RegFileError error;
    std::vector<RegFileError> skipped;
    check(import_reg_file(reg, file, error, Notify::Quiet, &skipped), "import the export: " + error.describe());
    check(skipped.empty(), skipped.empty() ? "" : "the export's import skipped " + skipped.front().describe());
    RegTree after;
    check(reg.read_tree(kTop, after) == RegStatus::Ok, "read the imported tree");
    check(fuzz::same_tree(before, after), "the imported tree is the exported one");
    std::string again;
    check(export_reg_file(reg, kTop, again) == RegStatus::Ok && again == file, "the second export is the first");
    return 0;
}
