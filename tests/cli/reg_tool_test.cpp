// `quillon reg`: the platform tool's output and conventions, and its refusals.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/cli/reg/reg_tool.h"
#include "platform/handset/core/utf.h"
#include "handset/registry/registry_fixture.h"

namespace {

using handset::RegRoot;
using handset::RegStatus;

class RegToolTest : public regtest::RegistryTest {
protected:
    // Runs the tool; returns its exit status, with its output in out and err.
    int reg(std::vector<std::string> args) {
        std::ostringstream o, e;
        const int status = handset::run_reg_tool(args, o, e);
        out = o.str();
        err = e.str();
        return status;
    }
    std::string out, err;
};

TEST_F(RegToolTest, AddAndQueryLookLikeThePlatformTool) {
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Quillon", "/v", "AlertInterval", "/t", "REG_DWORD", "/d", "0x10"}), 0) << err;
    EXPECT_EQ(out, "The operation completed successfully.\n");
    ASSERT_EQ(reg({"add", "hkey_current_user\\Software\\Quillon", "-V", "프로필", "/d", "무음"}), 0) << err;
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Quillon", "/ve", "/t", "REG_BINARY", "/d", "0102ff"}), 0) << err;
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Quillon\\Sub", "/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}), 0) << err;
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Quillon\\Sub", "/v", "Q", "/t", "reg_qword", "/d", "4294967296"}), 0) << err;

    // The key and the value are shown as typed; the subkeys below as stored.
    ASSERT_EQ(reg({"query", "HKCU\\software\\quillon"}), 0) << err;
    EXPECT_EQ(out,
              "\nHKEY_CURRENT_USER\\software\\quillon\n"
              "    AlertInterval    REG_DWORD    0x10\n"
              "    프로필    REG_SZ    무음\n"
              "    (Default)    REG_BINARY    0102FF\n"
              "\n"
              "HKEY_CURRENT_USER\\software\\quillon\\Sub\n");
    ASSERT_EQ(reg({"query", "HKCU\\Software\\Quillon", "/s"}), 0) << err;
    EXPECT_NE(out.find("HKEY_CURRENT_USER\\Software\\Quillon\\Sub\n"
                       "    M    REG_MULTI_SZ    a\\0b\n"
                       "    Q    REG_QWORD    0x100000000\n"),
              std::string::npos)
        << out;
    ASSERT_EQ(reg({"query", "HKCU\\Software\\Quillon", "/v", "alertinterval"}), 0) << err;
    EXPECT_EQ(out, "\nHKEY_CURRENT_USER\\Software\\Quillon\n    alertinterval    REG_DWORD    0x10\n\n");
    EXPECT_EQ(reg({"query", "HKCU\\Software\\Quillon", "/v", "none"}), 1);
    EXPECT_EQ(out, "\n");
}

TEST_F(RegToolTest, AddRefusesBadDataAndOverwritesOnlyWithF) {
    ASSERT_EQ(reg({"add", "HKLM\\System\\State", "/v", "Lock", "/t", "REG_DWORD", "/d", "2"}), 0) << err;
    EXPECT_EQ(reg({"add", "HKLM\\System\\State", "/v", "Lock", "/t", "REG_DWORD", "/d", "0"}), 1);
    EXPECT_NE(err.find("add /f"), std::string::npos) << err;
    for (const char* bad : {"4294967296", "-1", "0x", "12abc"}) {
        EXPECT_EQ(reg({"add", "HKLM\\System\\State", "/v", "Lock", "/t", "REG_DWORD", "/d", bad, "/f"}), 1) << bad;
        EXPECT_EQ(err.rfind("ERROR: Invalid REG_DWORD data", 0), 0u) << err;
    }
    EXPECT_EQ(reg({"add", "HKLM\\System\\State", "/v", "B", "/t", "REG_BINARY", "/d", "12g"}), 1);
    EXPECT_EQ(reg({"add", "HKLM\\System\\State", "/v", "B", "/t", "REG_LINKED", "/d", "1"}), 1);
    handset::RegValue v;
    ASSERT_EQ(store().get_value({RegRoot::LocalMachine, u"System\\State"}, u"Lock", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::dword_bytes(2));
    EXPECT_EQ(store().get_value({RegRoot::LocalMachine, u"System\\State"}, u"B", v), RegStatus::NotFound);

    ASSERT_EQ(reg({"add", "HKLM\\System\\State", "/v", "Lock", "/t", "REG_DWORD", "/d", "0", "/f"}), 0) << err;
    ASSERT_EQ(store().get_value({RegRoot::LocalMachine, u"System\\State"}, u"Lock", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::dword_bytes(0));
}

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

// A command line run over HKCU\Software\Quillon holding only "@"="old" (and
// HKLM\Software\Q for queries): its exit status, the values it leaves there, and its
// whole output when given.
struct ToolCase {
    std::vector<std::string> args;
    int status;
    const char* state;
    const char* out = nullptr;
};

TEST_F(RegToolTest, CommandsTakeTheirArgumentsAsThePlatformToolDoes) {
    const handset::RegKeyPath key{RegRoot::CurrentUser, u"Software\\Quillon"};
    const std::string k = "HKCU\\Software\\Quillon";
    const std::string q = "HKLM\\Software\\Q";
    const std::string file = dir.file("x.reg");
    std::ofstream(file) << "there";
    const handset::RegKeyPath deep{RegRoot::LocalMachine, u"Software\\Q\\Sub\\Deep"};
    ASSERT_EQ(store().set_value({RegRoot::LocalMachine, u"Software\\Q\\Sub"}, u"x", REG_SZ, handset::sz_bytes(u"1")),
              RegStatus::Ok);
    ASSERT_EQ(store().set_value(deep, u"x", REG_DWORD, handset::dword_bytes(2)), RegStatus::Ok);
    ASSERT_EQ(store().set_value(deep, u"", REG_SZ, handset::sz_bytes(u"d")), RegStatus::Ok);
    const std::vector<ToolCase> cases = {
        // A key alone gets an empty default value, but one it has is kept.
        {{"add", k + "\\New"}, 0, "@=sz:old [New] @=sz:"},
        {{"add", k, "/f"}, 0, "@=sz:old"},
        // /t or /d without /v is the default value.
        {{"add", k, "/t", "REG_DWORD", "/d", "5", "/f"}, 0, "@=dword:5"},
        {{"add", k, "/d", "new", "/f"}, 0, "@=sz:new"},
        {{"add", k, "/v", "n", "/t", "REG_NONE", "/d", "ab"}, 0, "@=sz:old n=hex(0):61,00,62,00,00,00"},
        {{"add", k, "/v", "n", "/t", "REG_NONE"}, 0, "@=sz:old n=hex(0):00,00"},
        {{"add", k, "/v", "d", "/t", "REG_DWORD"}, 1, "@=sz:old"},
        {{"add", k, "/v", "q", "/t", "REG_QWORD", "/d", "-1"}, 0, "@=sz:old q=qword:18446744073709551615"},
        {{"add", k, "/v", "q", "/t", "REG_QWORD"}, 0, "@=sz:old q=qword:0"},
        {{"add", k, "/v", "q", "/t", "REG_QWORD", "/d", "-0x10"}, 1, "@=sz:old"},
        // Refused data still leaves the key it named.
        {{"add", k + "\\Bad", "/v", "d", "/t", "REG_DWORD", "/d", "x"}, 1, "@=sz:old [Bad]"},
        {{"add", k, "/v", "b", "/t", "REG_BINARY", "/d", "123"}, 0, "@=sz:old b=hex:01,23"},
        {{"add", k, "/v", "l", "/t", "REG_DWORD_LITTLE_ENDIAN", "/d", "0x10"}, 0, "@=sz:old l=dword:16"},
        // The platform's tool stores a REG_DWORD_BIG_ENDIAN little-endian, as a REG_DWORD.
        {{"add", k, "/v", "g", "/t", "reg_dword_big_endian", "/d", "0x10"}, 0, "@=sz:old g=hex(5):10,00,00,00"},
        // Multi-strings: a trailing separator ends the list, a lone one is an empty string; it is one character.
        {{"add", k, "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b\\0"}, 0,
         "@=sz:old m=hex(7):61,00,00,00,62,00,00,00,00,00"},
        {{"add", k, "/v", "m", "/t", "REG_MULTI_SZ", "/s", ",", "/d", "a,b,"}, 0,
         "@=sz:old m=hex(7):61,00,00,00,62,00,00,00,00,00"},
        {{"add", k, "/v", "m", "/t", "REG_MULTI_SZ", "/d", "\\0"}, 0, "@=sz:old m=hex(7):00,00,00,00"},
        {{"add", k, "/v", "m", "/t", "REG_MULTI_SZ", "/s", "\\0", "/d", "a\\0b"}, 1, "@=sz:old"},
        {{"add", k, "/v", "m", "/t", "REG_MULTI_SZ", "/s", "::", "/d", "a::b"}, 1, "@=sz:old"},
        // A root key takes no value.
        {{"add", "HKCU\\", "/v", "X"}, 1, "@=sz:old"},
        // A key without values shows no section of its own; /v and /ve search with /s.
        {{"query", q, "/ve"}, 0, "@=sz:old",
         "\nHKEY_LOCAL_MACHINE\\Software\\Q\n    (Default)    REG_SZ    (value not set)\n"},
        {{"query", q}, 0, "@=sz:old", "\nHKEY_LOCAL_MACHINE\\Software\\Q\\Sub\n"},
        {{"query", q, "/s"}, 0, "@=sz:old",
         "\nHKEY_LOCAL_MACHINE\\Software\\Q\\Sub\n    x    REG_SZ    1\n\n"
         "HKEY_LOCAL_MACHINE\\Software\\Q\\Sub\\Deep\n    x    REG_DWORD    0x2\n    (Default)    REG_SZ    d\n\n"},
        {{"query", q, "/s", "/v", "X"}, 0, "@=sz:old",
         "\nHKEY_LOCAL_MACHINE\\Software\\Q\\Sub\n    X    REG_SZ    1\n\n"
         "HKEY_LOCAL_MACHINE\\Software\\Q\\Sub\\Deep\n    X    REG_DWORD    0x2\n\n"
         "Search complete. Number of matches found: 2\n"},
        {{"query", q, "/ve", "/s"}, 0, "@=sz:old",
         "\nHKEY_LOCAL_MACHINE\\Software\\Q\\Sub\\Deep\n    (Default)    REG_SZ    d\n\n"
         "Search complete. Number of matches found: 1\n"},
        {{"query", q, "/v", "none", "/s"}, 0, "@=sz:old", "\nSearch complete. Number of matches found: 0\n"},
        // /y comes after the file name.
        {{"export", k, "/y", file}, 1, "@=sz:old"},
        {{"export", "/y", k, file}, 1, "@=sz:old"},
        {{"export", k, file, "/Y"}, 0, "@=sz:old"},
    };
    for (const ToolCase& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        store().delete_key(key);
        ASSERT_EQ(store().set_value(key, u"", REG_SZ, handset::sz_bytes(u"old")), RegStatus::Ok);
        EXPECT_EQ(reg(c.args), c.status) << err;
        EXPECT_EQ(regtest::state_of(store(), key), c.state);
        if (c.out) {
            EXPECT_EQ(out, c.out);
        }
    }
    handset::RegValue v;
    EXPECT_EQ(store().get_value({RegRoot::CurrentUser, u""}, u"X", v), RegStatus::NotFound);
}

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
