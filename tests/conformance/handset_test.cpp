// The conformance tables on the handset: each table is one test on a fresh device with
// its registry, the harness's resources and the virtual clock. Every case must hold here,
// phone-only ones included, and is reported as a line that tools/conformance reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "common/scratch_device.h"
#include "harness.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/registry/store.h"
#include "platform/handset/window/wm.h"
#include "probe.h"

namespace {

class Conformance : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        resource::set_resources(&conformance::probe_resources());
        handset::register_window_table();
        handset::set_registry(std::make_unique<handset::RegistryStore>(device_.root() / "registry.db"));
        participation_.emplace();
    }
    void TearDown() override {
        participation_.reset();
        handset::set_registry(nullptr);
        handset::clear_faults();
    }

    qtest::ScratchDevice device_{"quillon-conformance"};
    std::optional<handset::Participation> participation_;
};

TEST_P(Conformance, EveryCaseHolds) {
    for (const conformance::Table& table : conformance::all_tables()) {
        if (table.name != GetParam()) continue;
        ASSERT_FALSE(table.cases.empty());
        for (const conformance::Case& c : table.cases) {
            const conformance::Result r = conformance::run_case(table, c);
            std::printf("case\t%s\n", conformance::line_of(r).c_str());
            EXPECT_TRUE(r.holds) << r.name << " (" << c.calls << "): " << r.outcome;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, Conformance,
                         ::testing::Values("registry", "kernel", "windows", "dialogs", "layout", "files"));

}  // namespace
