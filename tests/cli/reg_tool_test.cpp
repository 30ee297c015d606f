// `quillon reg`: the operation named, its usage and the syntax errors every operation
// explains alike.
#include "reg_tool_fixture.h"

#include "platform/handset/core/utf.h"

namespace {

using regtest::RegToolTest;

TEST_F(RegToolTest, SyntaxErrorsAreExplained) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"frob"}, {"query"}, {"query", "HKCU\\A", "/x"},
                                          {"add", "HKCU\\A", "/v"}, {"add", "HKCU\\A", "/v", "x", "/ve"},
                                          {"query", "HKCU\\A", "/v", "a", "/ve"}}) {
        EXPECT_EQ(reg(args), 1);
        EXPECT_EQ(err.rfind("ERROR: Invalid syntax", 0), 0u) << err;
        EXPECT_NE(err.find("quillon reg /?"), std::string::npos);
    }
    EXPECT_EQ(reg({"query", "HKCR\\A"}), 1);
    EXPECT_NE(err.find("only HKCU and HKLM"), std::string::npos) << err;
    EXPECT_EQ(reg({"/?"}), 0);
    EXPECT_NE(out.find("quillon reg query"), std::string::npos);
    // Each operation shows its own usage, whatever else is on the line.
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"query", "/?"}, {"add", "HKCU\\A", "/H"}, {"DELETE", "-?"}, {"export", "-h"}, {"import", "/h"}}) {
        EXPECT_EQ(reg(args), 0) << err;
        const std::string op = handset::ascii_lower(args[0]);
        EXPECT_EQ(out.rfind("Usage:\n  quillon reg " + op, 0), 0u) << out;
        EXPECT_EQ(out.find("quillon reg", 10), std::string::npos) << out;
    }

    handset::set_registry(nullptr);
    EXPECT_EQ(reg({"query", "HKCU\\A"}), 1);
    EXPECT_EQ(err, "ERROR: No registry is open.\n");
}

}  // namespace
