// Written forms shared by the tool, the scripts and the events: key paths, the
// `TYPE:DATA` value form, and case folding.
#include <gtest/gtest.h>

#include "platform/handset/registry/paths.h"

namespace {

using handset::Bytes;

TEST(RegistryPaths, KeyPathsTakeEitherRootSpelling) {
    handset::RegKeyPath key;
    std::string error;
    ASSERT_TRUE(handset::parse_key_path("HKEY_LOCAL_MACHINE\\System\\State\\", key, error)) << error;
    EXPECT_EQ(key.root, handset::RegRoot::LocalMachine);
    EXPECT_EQ(key.path, u"System\\State");
    EXPECT_EQ(handset::format_key_path(key), "HKLM\\System\\State");
    ASSERT_TRUE(handset::parse_key_path("hkcu", key, error));
    EXPECT_EQ(key.root, handset::RegRoot::CurrentUser);
    EXPECT_TRUE(key.path.empty());
    EXPECT_EQ(handset::format_key_path(key, true), "HKEY_CURRENT_USER");
    for (const char* bad : {"", "System\\State", "HKCU\\A\\\\B", "HKCU\\\\A", "HKU\\A", "HKCUX\\A",
                            "HKCU/Software"}) {
        EXPECT_FALSE(handset::parse_key_path(bad, key, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

// The open of a key checks a terminated argument in one pass; it must agree with the
// check of a measured one on every edge: empty names, the one trailing backslash
// allowed, and names at and past the longest.
TEST(RegistryPaths, SubKeyChecksAgreeOnEveryForm) {
    const std::u16string longest(handset::kMaxKeyNameLength, u'k');
    const std::u16string too_long(handset::kMaxKeyNameLength + 1, u'k');
    const struct {
        std::u16string text;
        bool ok;
        std::u16string path;
    } cases[] = {
        {u"", true, u""},
        {u"\\", true, u""},
        {u"A", true, u"A"},
        {u"A\\", true, u"A"},
        {u"System\\State\\Phone", true, u"System\\State\\Phone"},
        {u"System\\State\\Phone\\", true, u"System\\State\\Phone"},
        {u"\\\\", false, u""},
        {u"\\A", false, u""},
        {u"A\\\\", false, u""},
        {u"A\\\\B", false, u""},
        {u"A\\B\\\\", false, u""},
        {longest, true, longest},
        {u"A\\" + longest + u"\\", true, u"A\\" + longest},
        {too_long, false, u""},
        {too_long + u"\\A", false, u""},
        {u"A\\" + too_long + u"\\", false, u""},
    };
    for (const auto& c : cases) {
        const std::string shown(c.text.begin(), c.text.end());
        std::u16string_view measured = c.text;
        EXPECT_EQ(handset::check_sub_key(measured), c.ok) << shown;
        std::u16string_view terminated;
        EXPECT_EQ(handset::check_sub_key(c.text.c_str(), terminated), c.ok) << shown;
        std::u16string normal;
        EXPECT_EQ(handset::normalise_sub_key(c.text, normal), c.ok) << shown;
        if (!c.ok) continue;
        EXPECT_EQ(measured, c.path) << shown;
        EXPECT_EQ(terminated, c.path) << shown;
        EXPECT_EQ(normal, c.path) << shown;
    }
}

TEST(RegistryPaths, TypedValuesRoundTrip) {
    struct Case {
        const char* text;
        DWORD type;
        Bytes data;
        const char* canonical;
    };
    const Case cases[] = {
        {"dword:5", REG_DWORD, {5, 0, 0, 0}, "dword:5"},
        {"dword:0x10", REG_DWORD, {16, 0, 0, 0}, "dword:16"},
        {"DWORD:4294967295", REG_DWORD, {255, 255, 255, 255}, "dword:4294967295"},
        {"qword:0x100000000", REG_QWORD, {0, 0, 0, 0, 1, 0, 0, 0}, "qword:4294967296"},
        {"sz:Silent", REG_SZ, handset::sz_bytes(u"Silent"), "sz:Silent"},
        {"sz:", REG_SZ, {0, 0}, "sz:"},
        {"sz:무음 a:b", REG_SZ, handset::sz_bytes(u"무음 a:b"), "sz:무음 a:b"},
        {"hex:01,02,ff", REG_BINARY, {1, 2, 255}, "hex:01,02,ff"},
        {"hex:", REG_BINARY, {}, "hex:"},
        {"hex(7):61,0,0,0", REG_MULTI_SZ, {0x61, 0, 0, 0}, "hex(7):61,00,00,00"},
        // Data that the short forms cannot carry exactly keeps its bytes.
        {"hex(4):01,02", REG_DWORD, {1, 2}, "hex(4):01,02"},
        {"hex(1):78,00", REG_SZ, {'x', 0}, "hex(1):78,00"},
        {"hex(1):00,d8,00,00", REG_SZ, {0, 0xd8, 0, 0}, "hex(1):00,d8,00,00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        DWORD type = 0;
        Bytes data;
        std::string error;
        ASSERT_TRUE(handset::parse_typed_value(c.text, type, data, error)) << error;
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.data);
        EXPECT_EQ(handset::format_typed_value(type, data), c.canonical);
    }
    for (const char* bad : {"5", "dword:", "dword:-1", "dword:0x100000000", "dword:1.5", "hex:1,zz", "hex:001",
                            "hex(q):01", "hex(7:01", "string:x"}) {
        DWORD type = 0;
        Bytes data;
        std::string error;
        EXPECT_FALSE(handset::parse_typed_value(bad, type, data, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(RegistryPaths, CaseFoldingIsOneToOneAndSettled) {
    EXPECT_EQ(handset::fold_name(u"Missed Call COUNT"), u"missed call count");
    EXPECT_EQ(handset::fold_case(u'Ä'), u'ä');
    EXPECT_EQ(handset::fold_case(u'Ā'), u'ā');
    EXPECT_EQ(handset::fold_case(u'ā'), u'ā');
    EXPECT_EQ(handset::fold_case(u'Ж'), u'ж');
    EXPECT_EQ(handset::fold_case(u'Ａ'), u'ａ');
    EXPECT_EQ(handset::fold_case(u'가'), u'가');
    EXPECT_EQ(handset::fold_case(u'\\'), u'\\');
    // Folding a folded name changes nothing; otherwise stored names would not be found.
    for (char32_t c = 0; c < 0x10000; ++c) {
        const char16_t f = handset::fold_case(static_cast<char16_t>(c));
        ASSERT_EQ(handset::fold_case(f), f) << std::hex << static_cast<unsigned>(c);
    }
}

}  // namespace
