// `reg add`: keys and typed values, and the data it refuses.
#include "reg_tool_fixture.h"

namespace {

using handset::RegRoot;
using handset::RegStatus;
using regtest::RegToolTest;

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

// Values typed from /t, /d and /s, and what the tool refuses.
TEST_F(RegToolTest, AddTakesItsArgumentsAsThePlatformToolDoes) {
    const std::string k = "HKCU\\Software\\Quillon";
    check({
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
    });
    handset::RegValue v;
    EXPECT_EQ(store().get_value({RegRoot::CurrentUser, u""}, u"X", v), RegStatus::NotFound);
}

}  // namespace
