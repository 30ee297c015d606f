// The canvas's drawing operations and the PNG writer (libpng's simplified API,
// loaded with the first file written).
#include "platform/handset/display/pixel_canvas.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/handset/display/pixel_libraries.h"

namespace handset {

Rect Rect::intersect(const Rect& o) const {
    const int x0 = std::max(x, o.x), y0 = std::max(y, o.y);
    const int x1 = std::min(right(), o.right()), y1 = std::min(bottom(), o.bottom());
    return {x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

void Canvas::fill(const Rect& r, Colour c) {
    const Rect a = r.intersect(clip_);
    for (int y = a.y; y < a.bottom(); ++y) {
        Colour* row = &image_.pixels[static_cast<std::size_t>(y * image_.width)];
        std::fill(row + a.x, row + a.right(), c);
    }
}

void Canvas::frame(const Rect& r, Colour c) {
    if (r.empty()) return;
    hline(r.x, r.right(), r.y, c);
    hline(r.x, r.right(), r.bottom() - 1, c);
    vline(r.x, r.y, r.bottom(), c);
    vline(r.right() - 1, r.y, r.bottom(), c);
}

void Canvas::line(int x0, int y0, int x1, int y1, Colour c) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    for (int err = dx + dy;;) {
        pixel(x0, y0, c);
        if (x0 == x1 && y0 == y1) return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

bool Canvas::image(const ImageResource& source, int x, int y) {
    const int bytes = source.bits_per_pixel / 8;
    if ((bytes != 3 && bytes != 4) || source.width <= 0 || source.height <= 0) return false;
    const std::size_t stride = static_cast<std::size_t>(source.width) * bytes;
    if (source.pixels.size() < stride * source.height) return false;
    const Rect a = Rect{x, y, source.width, source.height}.intersect(clip_);
    for (int py = a.y; py < a.bottom(); ++py) {
        // Resource rows are bottom-up, as in a device-independent bitmap.
        const std::uint8_t* row = &source.pixels[(source.height - 1 - (py - y)) * stride];
        for (int px = a.x; px < a.right(); ++px) {
            const std::uint8_t* p = row + static_cast<std::size_t>(px - x) * bytes;
            Colour& out = image_.pixels[static_cast<std::size_t>(py * image_.width + px)];
            int r = p[2], g = p[1], b = p[0];
            if (bytes == 4) {
                const int a8 = p[3];
                const auto over = [a8](int top, int under) { return (top * a8 + under * (255 - a8) + 127) / 255; };
                r = over(r, static_cast<int>(out >> 16 & 0xFF));
                g = over(g, static_cast<int>(out >> 8 & 0xFF));
                b = over(b, static_cast<int>(out & 0xFF));
            }
            out = static_cast<Colour>(r << 16 | g << 8 | b);
        }
    }
    return true;
}

bool write_png(const Image& image, const std::filesystem::path& path, std::string& error) {
    const PngLibrary* png_lib = png_library(error);
    if (!png_lib) return false;
    std::vector<std::uint8_t> rgb;
    rgb.reserve(image.pixels.size() * 3);
    for (Colour c : image.pixels) {
        rgb.push_back(static_cast<std::uint8_t>(c >> 16));
        rgb.push_back(static_cast<std::uint8_t>(c >> 8));
        rgb.push_back(static_cast<std::uint8_t>(c));
    }
    // Opened here rather than by libpng, so that the error names the system's reason.
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    const bool encoded = png_lib->image_write_to_stdio(&png, file, 0, rgb.data(), 0, nullptr) != 0;
    const bool closed = std::fclose(file) == 0;
    if (encoded && closed) return true;
    error = "cannot write " + path.string() + ": " + (encoded ? std::string(std::strerror(errno)) : png.message);
    png_lib->image_free(&png);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
}

}  // namespace handset
