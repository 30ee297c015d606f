// The UTF-16 decoding that the event log and the screen share: pairs join, and a lone
// half of a pair becomes U+FFFD without swallowing the character after it. And the
// case of ASCII letters, which leaves every other character alone.
#include <gtest/gtest.h>

#include <string>

#include "platform/handset/core/utf.h"

namespace {

std::u32string decode(std::u16string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) out += handset::next_code_point(text, i);
    return out;
}

TEST(Utf16, PairsJoinAndLoneHalvesBecomeReplacementCharacters) {
    EXPECT_EQ(decode(u"a\U0001F600b"), U"a\U0001F600b");
    EXPECT_EQ(decode(std::u16string{u'a', char16_t(0xD83D)}), U"a\uFFFD");            // high half at the end
    EXPECT_EQ(decode(std::u16string{char16_t(0xD83D), u'x'}), U"\uFFFDx");            // high half, no low
    EXPECT_EQ(decode(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), U"\uFFFD\uFFFD");  // reversed
    EXPECT_EQ(decode(u"부재중"), U"부재중");
}

TEST(Utf16, ToUtf8AndBackKeepsTextAndMendsLoneHalves) {
    EXPECT_EQ(handset::to_utf8(u"3G 차단 \U0001F600"), "3G 차단 \xF0\x9F\x98\x80");
    EXPECT_EQ(handset::to_utf16(handset::to_utf8(u"프로그램 종료")), u"프로그램 종료");
    EXPECT_EQ(handset::to_utf8(std::u16string{u'x', char16_t(0xDC00), u'y'}), "x\xEF\xBF\xBDy");
}

TEST(Utf16, WellFormedMeansEveryHalfIsPaired) {
    std::u16string astral;
    handset::append_utf16(astral, U'\U0001F600');
    EXPECT_EQ(astral, u"\U0001F600");
    EXPECT_TRUE(handset::well_formed_utf16(u"부재중 " + astral));
    EXPECT_FALSE(handset::well_formed_utf16(std::u16string{u'a', char16_t(0xD83D)}));
    EXPECT_FALSE(handset::well_formed_utf16(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}));
}

TEST(Ascii, OnlyAsciiLettersChangeCase) {
    EXPECT_EQ(handset::ascii_lower("HKCU\\Software @[Z] \xC3\x84"), "hkcu\\software @[z] \xC3\x84");
    EXPECT_EQ(handset::ascii_lower(u"OPEN 부재중 \u00C4\uFF21"), u"open 부재중 \u00C4\uFF21");
    struct Case {
        std::u16string a, b;
        bool same;
    };
    const Case cases[] = {
        {u"Missed Call Count", u"missed CALL count", true}, {u"open", u"OPEN", true},  {u"", u"", true},
        {u"open", u"opens", false},                          {u"@", u"`", false},       {u"[", u"{", false},
        {u"\u00C4", u"\u00E4", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(handset::ascii_iequals(c.a, c.b), c.same) << handset::to_utf8(c.a) << " ~ " << handset::to_utf8(c.b);
        EXPECT_EQ(handset::ascii_iequals(handset::to_utf8(c.a), handset::to_utf8(c.b)), c.same) << handset::to_utf8(c.a);
    }
}

}  // namespace
