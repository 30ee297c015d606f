// `reg delete`: only with /f, and what it reports missing.
#include "reg_tool_fixture.h"

namespace {

using regtest::RegToolTest;

TEST_F(RegToolTest, DeleteNeedsFAndReportsWhatIsMissing) {
    ASSERT_EQ(reg({"add", "HKCU\\A\\B", "/v", "x", "/d", "1"}), 0);
    EXPECT_EQ(reg({"delete", "HKCU\\A", "/v", "x"}), 1);
    EXPECT_EQ(reg({"delete", "HKCU\\A\\B", "/v", "x"}), 1);
    EXPECT_NE(err.find("/f"), std::string::npos);
    ASSERT_EQ(reg({"delete", "HKCU\\A\\B", "/v", "X", "/f"}), 0) << err;
    EXPECT_EQ(reg({"delete", "HKCU\\A\\B", "/v", "x", "/f"}), 1);
    EXPECT_EQ(err, "ERROR: The system was unable to find the specified registry key or value.\n");
    ASSERT_EQ(reg({"delete", "HKCU\\A", "/f"}), 0) << err;
    EXPECT_EQ(reg({"query", "HKCU\\A\\B"}), 1);
    EXPECT_EQ(reg({"delete", "HKCU", "/f"}), 1);
    EXPECT_EQ(reg({"delete", "HKCU\\A", "/f"}), 1);
}

}  // namespace
