// `reg export` and `reg import`: a subtree to a .reg file and back, and the lines and
// files import refuses.
#include "reg_tool_fixture.h"

#include <fstream>

namespace {

using regtest::RegToolTest;

TEST_F(RegToolTest, ExportAndImportGoThroughFiles) {
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Quillon", "/v", "AlertInterval", "/t", "REG_DWORD", "/d", "2"}), 0);
    const std::string file = dir.file("quillon.reg");
    ASSERT_EQ(reg({"export", "HKCU\\Software\\Quillon", file}), 0) << err;
    EXPECT_EQ(reg({"export", "HKCU\\Software\\Quillon", file}), 1);
    EXPECT_NE(err.find("/y"), std::string::npos);
    ASSERT_EQ(reg({"export", "HKCU\\Software\\Quillon", file, "/y"}), 0) << err;

    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Quillon", "/f"}), 0);
    ASSERT_EQ(reg({"import", file}), 0) << err;
    ASSERT_EQ(reg({"query", "HKCU\\Software\\Quillon", "/v", "AlertInterval"}), 0);
    EXPECT_NE(out.find("0x2"), std::string::npos);

    // A line it cannot read is skipped with a warning; the rest imports.
    const std::string odd = dir.file("odd.reg");
    std::ofstream(odd) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"AlertInterval\"=dword:5\n\"X\"=what\n";
    ASSERT_EQ(reg({"import", odd}), 0) << err;
    EXPECT_EQ(err, "WARNING: " + odd + ": line 5 skipped: unknown data \"what\": expected \"text\", dword:, hex:, "
                   "hex(N): or - (delete)\n");
    ASSERT_EQ(reg({"query", "HKCU\\Software\\Quillon", "/v", "AlertInterval"}), 0);
    EXPECT_NE(out.find("0x5"), std::string::npos) << out;
    const std::string bad = dir.file("bad.reg");
    std::ofstream(bad) << "[HKEY_CURRENT_USER\\Software\\Quillon]\n\"AlertInterval\"=dword:6\n";
    EXPECT_EQ(reg({"import", bad}), 1);
    EXPECT_NE(err.find("line 1"), std::string::npos) << err;
    ASSERT_EQ(reg({"query", "HKCU\\Software\\Quillon", "/v", "AlertInterval"}), 0);
    EXPECT_NE(out.find("0x5"), std::string::npos) << "a refused file changed the registry";
    EXPECT_EQ(reg({"import", dir.file("absent.reg")}), 1);
}

TEST_F(RegToolTest, ExportTakesItsArgumentsAsThePlatformToolDoes) {
    const std::string k = "HKCU\\Software\\Quillon";
    const std::string file = dir.file("x.reg");
    std::ofstream(file) << "there";
    check({
        // /y comes after the file name.
        {{"export", k, "/y", file}, 1, "@=sz:old"},
        {{"export", "/y", k, file}, 1, "@=sz:old"},
        {{"export", k, file, "/Y"}, 0, "@=sz:old"},
    });
}

}  // namespace
