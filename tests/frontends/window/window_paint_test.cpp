// The phone window's panel shortens a line that does not fit: "…" stands for the middle
// of its longest field, or for its end, and the line never runs past the panel's edge.
#include <gtest/gtest.h>

#include "platform/frontends/interactive/console.h"
#include "platform/frontends/window/window_layout.h"
#include "platform/frontends/window/window_paint.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/display/pixel_font.h"

namespace {

using frontends::code_points_of;
using frontends::shorten_line;

std::string utf8(const std::u32string& text) {
    std::u16string out;
    for (char32_t c : text) handset::append_utf16(out, c);
    return handset::to_utf8(out);
}

// One unit a character, so that the cases read as counts of characters.
int count_width(std::u32string_view text) { return static_cast<int>(text.size()); }

TEST(PanelLines, ShortenTheLongestFieldInTheMiddleElseTheEnd) {
    struct Case {
        const char* text;
        int width;
        const char* shown;
    } cases[] = {
        // Fits: as it is.
        {"    1.000 key vk=13", 19, "    1.000 key vk=13"},
        // The device path is the longest value; its spaces do not split it.
        {"    1.000 sound file=\\Program Files\\Quillon\\Sound\\missedCall.wav mode=async", 50,
         "    1.000 sound file=\\Program …Call.wav mode=async"},
        // No field long enough to take the cut: the end goes.
        {"    1.000 power state=on mask=1 extra=2", 20, "    1.000 power sta…"},
        // Without `name=value` fields, the longest word is the field.
        {"error: cannot open the device folder /tmp/a/very/long/folder/name", 40,
         "error: cannot open the device folder /…e"},
        {"> missed 0", 1, "…"},
        {"> missed 0", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::u32string shown = shorten_line(code_points_of(c.text), c.width, count_width);
        EXPECT_LE(count_width(shown), c.width);
        EXPECT_EQ(utf8(shown), c.shown);
    }
}

// The panel's Latin face has no Hangul; the handset's face draws it, so that a Korean
// event line shows no missing-glyph box.
TEST(PanelLines, KoreanEventLinesDrawWithoutMissingGlyphBoxes) {
    std::string warning, error;
    auto font = frontends::load_panel_font(warning, error);
    ASSERT_TRUE(font) << error;
    EXPECT_EQ(warning, "");
    const handset::Fields fields{{"id", 138}, {"title", "3G 연결 설정"}};
    const std::string line = frontends::describe_event({5, "dialog.open", fields});
    for (const char32_t c : code_points_of(line)) {
        if (c == U' ') continue;
        EXPECT_TRUE(font->has_glyph(c)) << "U+" << std::hex << static_cast<unsigned>(c) << " in " << line;
    }
    EXPECT_FALSE(font->has_glyph(U'\U000F0000')) << "a private-use character has no glyph: the check can fail";
}

TEST(PanelLines, EveryEventLineFitsThePanelAtEveryScale) {
    std::string warning, error;
    auto font = frontends::load_panel_font(warning, error);
    if (!font) GTEST_SKIP() << error << " (tools/install-deps installs fonts-dejavu-core)";
    const handset::Fields sound{{"file", "\\Program Files\\Quillon\\Sound\\missedCall.wav"},
                                {"mode", "async"},
                                {"ms", 1200},
                                {"missing", false}};
    const handset::Fields reg{{"key", "HKCU\\Comm\\RasBook\\SKT IE GPRS"},
                              {"name", "DevCfg"},
                              {"type", "REG_BINARY"},
                              {"data", std::string(600, 'f')}};
    const handset::Fields msgbox{{"text", "3G 인터넷서비스 접속을 차단합니다. 계속하시겠습니까?"}, {"caption", "QUILLON"}};
    const handset::Fields debug{{"text", std::string(300, 'W')}};
    const handset::Fields none;
    const std::string long_kind(200, 'x');
    const handset::Event events[] = {
        {12345, "sound", sound},
        {99999999, "reg.set", reg},
        {1, "msgbox", msgbox},
        {2, "debug", debug},
        {3, long_kind.c_str(), none},
    };
    for (int scale = frontends::kMinWindowScale; scale <= frontends::kMaxWindowScale; ++scale) {
        const auto layout = frontends::window_layout(scale);
        const int width = layout.panel.w - layout.panel_font_px;  // less the panel's padding
        const auto width_of = [&](std::u32string_view t) { return font->width(layout.panel_font_px, t); };
        for (const auto& event : events) {
            const std::u32string line = code_points_of(frontends::describe_event(event));
            const std::u32string shown = shorten_line(line, width, width_of);
            SCOPED_TRACE("scale " + std::to_string(scale) + ": " + utf8(shown));
            EXPECT_LE(width_of(shown), width);
            // Shortened, the line still begins with its time and says where it was cut.
            EXPECT_NE(shown.find(U'…'), std::u32string::npos);
            EXPECT_EQ(shown.substr(0, 9), line.substr(0, 9));
        }
    }
}

}  // namespace
