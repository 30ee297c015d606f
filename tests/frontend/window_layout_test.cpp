// The phone window's geometry at each scale: every key is clicked where it is drawn,
// inside the handset below its screen, and nothing of the window overlaps.
#include <gtest/gtest.h>

#include <set>

#include "platform/frontend/window_layout.h"
#include "platform/handset/window/pixel_screen.h"

namespace {

using handset::Rect;
using handset::frontend::key_at;
using handset::frontend::window_layout;

bool inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom();
}

TEST(WindowLayout, KeysAreClickedWhereTheyAreDrawnAtEveryScale) {
    for (int scale = handset::frontend::kMinWindowScale; scale <= handset::frontend::kMaxWindowScale; ++scale) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const auto layout = window_layout(scale);
        EXPECT_EQ(layout.screen.w, handset::kScreenWidthPx * scale);
        EXPECT_EQ(layout.screen.h, handset::kScreenHeightPx * scale);
        EXPECT_TRUE(inside(layout.screen, layout.body));
        EXPECT_GE(layout.panel.x, layout.body.right());
        EXPECT_TRUE(inside(layout.panel, {0, 0, layout.width, layout.height}));
        EXPECT_EQ(key_at(layout, layout.screen.x + layout.screen.w / 2, layout.screen.y + layout.screen.h / 2), nullptr);

        // 21 keys: the soft keys, four arrows, OK, Back, power, 0-9, * and #.
        std::set<int> vks;
        for (const auto& key : layout.keys) {
            EXPECT_TRUE(inside(key.rect, layout.body)) << key.label;
            EXPECT_GE(key.rect.y, layout.screen.bottom()) << key.label;
            for (const auto& [x, y] : {std::pair{key.rect.x, key.rect.y},
                                      {key.rect.right() - 1, key.rect.bottom() - 1},
                                      {key.rect.x + key.rect.w / 2, key.rect.y + key.rect.h / 2}})
                EXPECT_EQ(key_at(layout, x, y), &key) << key.label << " at " << x << "," << y;
            vks.insert(key.vk ? *key.vk : -1);
        }
        EXPECT_EQ(layout.keys.size(), 21u);
        EXPECT_EQ(vks.size(), 21u);  // each key once, the power button among them
        EXPECT_TRUE(vks.count(-1));
    }
}

}  // namespace
