// `reg query`: a value, a key and a subtree, shown as the platform's tool shows them.
#include "reg_tool_fixture.h"

namespace {

using handset::RegRoot;
using handset::RegStatus;
using regtest::RegToolTest;

TEST_F(RegToolTest, AddAndQueryLookLikeThePlatformTool) {
    ASSERT_EQ(reg({"add", "HKCU\\Software\\Quillon", "/v", "AlertInterval", "/t", "REG_DWORD", "/d", "0x10"}), 0)
        << err;
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

TEST_F(RegToolTest, QueryTakesItsArgumentsAsThePlatformToolDoes) {
    const std::string q = "HKLM\\Software\\Q";
    const handset::RegKeyPath deep{RegRoot::LocalMachine, u"Software\\Q\\Sub\\Deep"};
    ASSERT_EQ(store().set_value({RegRoot::LocalMachine, u"Software\\Q\\Sub"}, u"x", REG_SZ, handset::sz_bytes(u"1")),
              RegStatus::Ok);
    ASSERT_EQ(store().set_value(deep, u"x", REG_DWORD, handset::dword_bytes(2)), RegStatus::Ok);
    ASSERT_EQ(store().set_value(deep, u"", REG_SZ, handset::sz_bytes(u"d")), RegStatus::Ok);
    check({
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
    });
}

}  // namespace
