// The harness's shared parts: outcomes, running a case, the printed line and the list
// of tables.
#include "harness.h"

#include "platform/handset/core/utf.h"

namespace conformance {

// Not handset::to_utf8, which the Win32 build does not have; and unlike it, an unpaired
// surrogate is written as it is rather than as U+FFFD.
std::string utf8(WStringView text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint16_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            const std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        handset::append_utf8(out, c);
    }
    return out;
}

void Check::fail(const std::string& what, const std::string& actual, const std::string& expected) {
    if (failed_) return;
    failed_ = true;
    outcome_ = what + ": " + actual + ", expected " + expected;
}

std::string Check::outcome() const {
    if (failed_) return outcome_;
    return comparisons_ > 0 ? "ok" : "nothing checked";
}

std::vector<Table> all_tables() {
    return {registry_table(), kernel_table(), window_table(), dialog_table(), layout_table(), file_table()};
}

Result run_case(const Table& table, const Case& c) {
    Check check;
    try {
        c.run(check);
    } catch (const std::exception& e) {
        check.fail("exception", e.what(), "none");
    }
    return {std::string(table.name) + "." + c.name, check.outcome(), check.holds(), c.phone_only};
}

std::string line_of(const Result& r) {
    std::string line = r.name + "\t" + r.outcome + "\t";
    if (r.phone_only) line += std::string("phone-only: ") + r.phone_only;
    return line;
}

}  // namespace conformance
