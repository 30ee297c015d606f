// The phone window's geometry at each scale: every key and handset control is clicked
// where it is drawn, keys inside the handset below its screen, controls in their state
// rows of the panel, and nothing of the window overlaps.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

#include "platform/frontends/interactive/console.h"
#include "platform/frontends/window/window_layout.h"
#include "platform/handset/display/pixel_screen.h"

namespace {

using handset::Rect;
using frontends::control_at;
using frontends::key_at;
using frontends::window_layout;

bool inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom();
}

TEST(WindowLayout, KeysAreClickedWhereTheyAreDrawnAtEveryScale) {
    for (int scale = frontends::kMinWindowScale; scale <= frontends::kMaxWindowScale; ++scale) {
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

TEST(WindowLayout, ControlsSitInTheirRowsAndAreClickedWhereTheyAreDrawn) {
    const auto labels = frontends::panel_row_labels();
    for (int scale = frontends::kMinWindowScale; scale <= frontends::kMaxWindowScale; ++scale) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const auto layout = window_layout(scale);
        ASSERT_EQ(layout.controls.size(), frontends::handset_controls().size());
        std::set<std::string_view> names;
        for (const auto& c : layout.controls) {
            const std::string_view name = c.control->name;
            names.insert(name);
            EXPECT_TRUE(inside(c.rect, layout.panel)) << name;
            // In its own row, after room for the row's label and a short value.
            const auto row = std::find(labels.begin(), labels.end(), c.control->row);
            ASSERT_NE(row, labels.end()) << name;
            const int row_top = layout.rows_top + static_cast<int>(row - labels.begin()) * layout.row_height;
            EXPECT_GE(c.rect.y, row_top) << name;
            EXPECT_LE(c.rect.bottom(), row_top + layout.row_height) << name;
            EXPECT_GE(c.rect.x, layout.panel.x + layout.label_width + 5 * layout.panel_font_px) << name;
            EXPECT_LE(c.rect.bottom(), layout.events_top) << name;
            for (const auto& [x, y] : {std::pair{c.rect.x, c.rect.y},
                                      {c.rect.right() - 1, c.rect.bottom() - 1},
                                      {c.rect.x + c.rect.w / 2, c.rect.y + c.rect.h / 2}})
                EXPECT_EQ(control_at(layout, x, y), &c) << name << " at " << x << "," << y;
            for (const auto& other : layout.controls) {
                if (&other != &c) {
                    EXPECT_TRUE(other.rect.intersect(c.rect).empty()) << name << " and " << other.control->name;
                }
            }
        }
        EXPECT_EQ(names.size(), layout.controls.size());
        // The events keep room for ten lines of text below the rows at every scale.
        EXPECT_LE(layout.events_top + 10 * layout.text_height, layout.panel.bottom()) << layout.panel.bottom();

        // The listing gives each key and control once, where it is.
        const auto listing = nlohmann::json::parse(frontends::layout_json(layout));
        EXPECT_EQ(listing["width"], layout.width);
        EXPECT_EQ(listing["height"], layout.height);
        ASSERT_EQ(listing["regions"].size(), layout.keys.size() + layout.controls.size());
        std::set<std::string> listed;
        for (const auto& region : listing["regions"]) {
            const std::string name = region["name"];
            listed.insert(name);
            const int x = region["x"].get<int>() + region["w"].get<int>() / 2;
            const int y = region["y"].get<int>() + region["h"].get<int>() / 2;
            const auto* control = control_at(layout, x, y);
            const auto* key = key_at(layout, x, y);
            if (region["kind"] == "control") EXPECT_TRUE(control && control->control->name == name) << name;
            else EXPECT_TRUE(key && "key-" + std::string(key->name) == name) << name;
        }
        EXPECT_EQ(listed.size(), listing["regions"].size());
    }
}

TEST(WindowLayout, TheScaleThatFitsIsTheLargestWholeWindowInside) {
    using frontends::scale_that_fits;
    for (int scale = frontends::kMinWindowScale; scale <= frontends::kMaxWindowScale; ++scale) {
        const auto layout = window_layout(scale);
        EXPECT_EQ(scale_that_fits(layout.width, layout.height), scale);
        const int smaller = std::max(frontends::kMinWindowScale, scale - 1);
        EXPECT_EQ(scale_that_fits(layout.width - 1, layout.height + 500), smaller) << scale;
        EXPECT_EQ(scale_that_fits(layout.width + 500, layout.height - 1), smaller) << scale;
    }
    EXPECT_EQ(scale_that_fits(10, 10), frontends::kMinWindowScale);
    EXPECT_EQ(scale_that_fits(100000, 100000), frontends::kMaxWindowScale);
}

}  // namespace
