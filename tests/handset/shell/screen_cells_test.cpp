// The text front ends' cell helpers: lines broken between words, and cut lines marked.
#include <gtest/gtest.h>

#include "platform/handset/shell/phone_state.h"

namespace {

using handset::shell::shorten_cells;
using handset::shell::wrap_words;

TEST(ScreenCells, WordsStayWholeAndACutLineSaysSo) {
    struct Wrap {
        std::u16string text;
        int cells;
        std::vector<std::string> lines;
    };
    const Wrap wraps[] = {
        // Groups parted by two spaces stay together while they fit.
        {u"F1/F2 soft keys  m/M missed +1/clear  s/S SMS", 20, {"F1/F2 soft keys     ", "m/M missed +1/clear ", "s/S SMS             "}},
        // A group wider than a line breaks at its single spaces.
        {u"p/i/z/Z power button/idle/suspend/resume", 16, {"p/i/z/Z power   ", "button/idle/susp", "end/resume      "}},
        {u"abc", 5, {"abc  "}},
    };
    for (const Wrap& w : wraps) EXPECT_EQ(wrap_words(w.text, w.cells), w.lines) << w.cells;

    EXPECT_EQ(shorten_cells(u"0.500 sound file=a.wav", 12), "0.500 sound…");
    EXPECT_EQ(shorten_cells(u"short", 8), "short   ");
    EXPECT_EQ(shorten_cells(u"부재중 전화", 6), "부재… ");  // a wide character that does not fit goes whole
}

}  // namespace
