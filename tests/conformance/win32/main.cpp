// The conformance tables on Win32: a console program for Wine (or Windows) that runs
// every case against the desktop's own API, through the Phone* forms where the program
// uses them, and prints one line per case. Exits non-zero when an unmarked case fails.
#include <cstdio>

#include "../harness.h"
#include "../probe.h"

int wmain() {
    resource::set_resources(&conformance::probe_resources());
    int failed = 0;
    for (const conformance::Table& table : conformance::all_tables()) {
        for (const conformance::Case& c : table.cases) {
            const conformance::Result r = conformance::run_case(table, c);
            std::printf("case\t%s\n", conformance::line_of(r).c_str());
            std::fflush(stdout);
            if (!r.holds && !r.phone_only) ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
