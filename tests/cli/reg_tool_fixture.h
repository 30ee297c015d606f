// The fixture of `quillon reg`'s tests: the tool run on a fresh registry, and its
// command lines checked from a table.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/cli/reg/reg_tool.h"
#include "handset/registry/registry_fixture.h"

namespace regtest {

// A command line run over HKCU\Software\Quillon holding only "@"="old": its exit
// status, the values it leaves there, and its whole output when given.
struct ToolCase {
    std::vector<std::string> args;
    int status;
    const char* state;
    const char* out = nullptr;
};

class RegToolTest : public RegistryTest {
protected:
    // Runs the tool; returns its exit status, with its output in out and err.
    int reg(std::vector<std::string> args) {
        std::ostringstream o, e;
        const int status = cli::run_reg_tool(args, o, e);
        out = o.str();
        err = e.str();
        return status;
    }

    // Runs each case on HKCU\Software\Quillon set back to "@"="old".
    void check(const std::vector<ToolCase>& cases) {
        const handset::RegKeyPath key{handset::RegRoot::CurrentUser, u"Software\\Quillon"};
        for (const ToolCase& c : cases) {
            std::string line;
            for (const auto& a : c.args) line += a + " ";
            SCOPED_TRACE(line);
            store().delete_key(key);
            ASSERT_EQ(store().set_value(key, u"", REG_SZ, handset::sz_bytes(u"old")), handset::RegStatus::Ok);
            EXPECT_EQ(reg(c.args), c.status) << err;
            EXPECT_EQ(state_of(store(), key), c.state);
            if (c.out) {
                EXPECT_EQ(out, c.out);
            }
        }
    }

    std::string out, err;
};

}  // namespace regtest
