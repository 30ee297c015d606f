// Pixels of the screen: an RGB image, a canvas that draws rectangles, lines and the
// program's bitmaps and icons into it through a clip rectangle, and the image written
// to a PNG file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/handset/window/resource.h"

namespace handset {

using Colour = std::uint32_t;  // 0xRRGGBB

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool empty() const { return w <= 0 || h <= 0; }
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
    Rect inset(int d) const { return {x + d, y + d, w - 2 * d, h - 2 * d}; }
    Rect intersect(const Rect& o) const;
    bool operator==(const Rect&) const = default;
};

struct Image {
    int width = 0, height = 0;
    std::vector<Colour> pixels;  // rows top-down

    Image() = default;
    Image(int w, int h, Colour fill) : width(w), height(h), pixels(static_cast<std::size_t>(w * h), fill) {}
    Colour at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// Draws into an image; every operation is cut to the current clip rectangle.
class Canvas {
public:
    explicit Canvas(Image& image) : image_(image), clip_{0, 0, image.width, image.height} {}

    // Narrows the clip to `r` for the guard's lifetime.
    class Clip {
    public:
        Clip(Canvas& c, const Rect& r) : canvas_(c), saved_(c.clip_) { c.clip_ = c.clip_.intersect(r); }
        ~Clip() { canvas_.clip_ = saved_; }
        Clip(const Clip&) = delete;
        Clip& operator=(const Clip&) = delete;

    private:
        Canvas& canvas_;
        Rect saved_;
    };

    void pixel(int x, int y, Colour c) {
        if (clip_.contains(x, y)) image_.pixels[static_cast<std::size_t>(y * image_.width + x)] = c;
    }
    void fill(const Rect& r, Colour c);
    void hline(int x0, int x1, int y, Colour c) { fill({x0, y, x1 - x0, 1}, c); }  // x1 excluded
    void vline(int x, int y0, int y1, Colour c) { fill({x, y0, 1, y1 - y0}, c); }  // y1 excluded
    void frame(const Rect& r, Colour c);                                           // a one-pixel outline inside r
    // A line between two points, both drawn.
    void line(int x0, int y0, int x1, int y1, Colour c);
    // A 24- or 32-bit resource image at its own size, its top-left corner at (x, y); a
    // 32-bit image is blended over what is there by its alpha. False for other formats.
    bool image(const ImageResource& source, int x, int y);

    const Rect& clip() const { return clip_; }

private:
    Image& image_;
    Rect clip_;
};

// Writes `image` as an 8-bit RGB PNG. False with `error` naming the path and the cause
// when the file cannot be written.
bool write_png(const Image& image, const std::filesystem::path& path, std::string& error);

}  // namespace handset
