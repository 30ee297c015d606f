// The icon the desktop shows is the program's own: at each size the icon resource has,
// the PNG file installed into the icon theme holds the resource's pixels.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/build_paths.h"
#include "res/pixels.h"

namespace {

struct Case {
    int size;
    std::span<const std::uint8_t> resource;  // B, G, R, A rows bottom-up
};

TEST(DesktopIcon, HoldsTheIconResourcesPixels) {
    namespace px = quillon_res::pixels;
    const Case cases[] = {{16, px::icon16}, {32, px::icon32}, {48, px::icon48}, {128, px::icon128}};
    for (const Case& c : cases) {
        const std::string side = std::to_string(c.size);
        const std::string path = std::string(qtest::kHicolorDir) + "/" + side + "x" + side + "/apps/quillon.png";
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str())) << path << ": " << png.message;
        EXPECT_EQ(png.width, static_cast<png_uint_32>(c.size)) << path;
        EXPECT_EQ(png.height, static_cast<png_uint_32>(c.size)) << path;
        png.format = PNG_FORMAT_BGRA;
        std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(png));
        // A negative row stride reads the rows bottom-up, as the resource keeps them.
        ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), -static_cast<png_int_32>(png.width * 4),
                                          nullptr))
            << path << ": " << png.message;
        ASSERT_EQ(pixels.size(), c.resource.size()) << path;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) differing += pixels[i] != c.resource[i];
        EXPECT_EQ(differing, 0u) << path << " differs from the icon resource in " << differing << " bytes";
    }
}

}  // namespace
