// A PNG file read back as 0xRRGGBB words, through libpng's simplified API, for the
// tests that compare what the phone wrote or showed with the screen it drew.
#pragma once

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace qtest {

struct RgbPicture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // rows top-down
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

inline bool read_png(const std::filesystem::path& path, RgbPicture& picture) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) return false;
    picture.width = static_cast<int>(png.width);
    picture.height = static_cast<int>(png.height);
    picture.pixels.clear();
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        picture.pixels.push_back(std::uint32_t{rgb[i]} << 16 | std::uint32_t{rgb[i + 1]} << 8 | rgb[i + 2]);
    return true;
}

}  // namespace qtest
