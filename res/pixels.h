// The pixel arrays of Quillon's icon and emblem. They are drawn when Quillon is built
// (res/draw/draw_images.cpp writes their definitions), so they sit in read-only data
// and cost nothing at start-up. Rows are bottom-up as in a device-independent bitmap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon_res::pixels {

constexpr int kEmblemSize = 100;

constexpr std::size_t bytes(int w, int h, int bits_per_pixel) {
    return static_cast<std::size_t>(w) * h * (bits_per_pixel / 8);
}

// The icon at 128, 48, 32 and 16 pixels square, 32-bit B, G, R, A with straight alpha.
extern const std::array<std::uint8_t, bytes(128, 128, 32)> icon128;
extern const std::array<std::uint8_t, bytes(48, 48, 32)> icon48;
extern const std::array<std::uint8_t, bytes(32, 32, 32)> icon32;
extern const std::array<std::uint8_t, bytes(16, 16, 32)> icon16;
// The emblem, 24-bit B, G, R, unpadded.
extern const std::array<std::uint8_t, bytes(kEmblemSize, kEmblemSize, 24)> emblem;

static_assert(bytes(kEmblemSize, kEmblemSize, 24) == 30000, "the emblem is 100 x 100 at 24 bits, unpadded");

}  // namespace quillon_res::pixels
