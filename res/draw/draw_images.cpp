// Draws Quillon's pictures at build time: the program icon (a white quill on a blue
// rounded square, at four sizes) and the about box's emblem (a grey ring on white with
// the name inside). Writes a C++ source file that defines the pixel arrays declared in
// res/pixels.h, so the handset never spends start-up time on drawing. The Win32 build
// also asks for the icon as an .ico file, for the executable's own resources; the Linux
// install, for PNG files in the desktop's icon theme layout.
//
//   quillon_draw_images OUTPUT.cpp [ICON.ico]
//   quillon_draw_images --hicolor DIR       DIR/NxN/apps/quillon.png at the usual sizes
//
// The pixels come from the shape descriptions below rather than from literal arrays.
// Every pixel averages a 4 x 4 grid of samples, so edges are smooth at every size. Rows
// are stored bottom-up as in a device-independent bitmap; 32-bit pixels are B, G, R, A
// with straight alpha, 24-bit pixels B, G, R.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "res/pixels.h"

namespace {

using quillon_res::pixels::kEmblemSize;

struct Colour {
    double r, g, b;
};

// A sample of a picture: straight colour and coverage (0 transparent, 1 opaque).
struct Sample {
    Colour c;
    double a;
};

constexpr int kSamplesPerAxis = 4;

Colour mix(Colour from, Colour to, double t) {
    return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t};
}

std::uint8_t channel(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// Fills `out` (bytes_per_pixel 3 or 4) with a w x h picture; shade(x, y) gives the
// picture at a point, both coordinates running from 0 to 1 across the image, y down.
template <class Shade>
void render(std::span<std::uint8_t> out, int w, int h, int bytes_per_pixel, Shade shade) {
    constexpr int n = kSamplesPerAxis;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Average premultiplied, so transparent samples do not darken the edge.
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const Sample s = shade((x + (sx + 0.5) / n) / w, (y + (sy + 0.5) / n) / h);
                    r += s.c.r * s.a;
                    g += s.c.g * s.a;
                    b += s.c.b * s.a;
                    a += s.a;
                }
            }
            std::uint8_t* p = &out[(static_cast<std::size_t>(h - 1 - y) * w + x) * bytes_per_pixel];
            const double unpremultiply = a > 0 ? 1.0 / a : 0.0;
            p[0] = channel(b * unpremultiply);
            p[1] = channel(g * unpremultiply);
            p[2] = channel(r * unpremultiply);
            if (bytes_per_pixel == 4) p[3] = channel(a / (n * n) * 255.0);
        }
    }
}

// ---- Icon ----------------------------------------------------------------------

constexpr Colour kSkyTop{64, 132, 204};
constexpr Colour kSkyBottom{28, 76, 140};
constexpr Colour kVaneLight{250, 250, 244};
constexpr Colour kVaneShade{214, 222, 234};
constexpr Colour kShaft{140, 156, 184};
constexpr Colour kCalamus{238, 232, 212};
constexpr Colour kNib{238, 184, 60};

bool in_rounded_square(double x, double y, double margin, double radius) {
    const double inner = 0.5 - margin - radius;
    const double dx = std::max(std::abs(x - 0.5) - inner, 0.0);
    const double dy = std::max(std::abs(y - 0.5) - inner, 0.0);
    return dx * dx + dy * dy <= radius * radius;
}

// The quill runs from its nib at the lower left to its tip at the upper right. Points
// are measured along that axis (u: 0 at the nib, 1 at the tip) and across it (v,
// positive towards the lower right), with the axis curving slightly near the tip.
Sample icon_shade(double x, double y) {
    if (!in_rounded_square(x, y, 0.04, 0.22)) return {{0, 0, 0}, 0};
    const Colour sky = mix(kSkyTop, kSkyBottom, y);

    constexpr double nib_x = 0.22, nib_y = 0.82, tip_x = 0.82, tip_y = 0.16;
    const double ax = tip_x - nib_x, ay = tip_y - nib_y;
    const double length = std::hypot(ax, ay);
    const double dx = ax / length, dy = ay / length;
    const double px = x - nib_x, py = y - nib_y;
    const double u = (px * dx + py * dy) / length;
    const double v = (px * -dy + py * dx) - 0.07 * u * u * u;
    const double across = std::abs(v);

    constexpr double vane_start = 0.26;
    if (u >= vane_start && u <= 1.0) {
        const double t = (u - vane_start) / (1.0 - vane_start);
        const double profile = std::sin(std::numbers::pi * std::pow(t, 0.7));
        const bool upper = v < 0;
        const double half_width = (upper ? 0.15 : 0.10) * profile;
        if (across < 0.012 * (1.2 - t)) return {kShaft, 1};
        if (across <= half_width) {
            // Two slits where the barbs have parted, slanting towards the tip.
            const double slit = upper ? 0.38 : 0.58;
            const double along = t - slit - 0.9 * across;
            if (across > 0.025 && along > 0 && along < 0.035) return {sky, 1};
            return {upper ? kVaneLight : kVaneShade, 1};
        }
    }
    if (u >= 0.12 && u < vane_start + 0.01 && across < 0.02) return {kCalamus, 1};
    if (u >= 0.0 && u < 0.13 && across < 0.045 * (u / 0.13)) return {kNib, 1};
    return {sky, 1};
}

// ---- Emblem --------------------------------------------------------------------

constexpr Colour kWhite{255, 255, 255};
constexpr Colour kRingGrey{128, 128, 128};
constexpr Colour kLetterBlue{36, 72, 128};
constexpr Colour kLetterGrey{64, 64, 64};

struct Glyph {
    char c;
    std::array<std::string_view, 7> rows;
};

// A 5 x 7 pixel font with just the letters of the name.
constexpr Glyph kFont[] = {
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
};
constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kGlyphAdvance = 6;

constexpr int text_width(std::string_view text, int scale) {
    return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

// Whether the point (x, y), in pixels, is inked by `text` set at (left, top) with each
// font pixel drawn as a scale x scale block.
bool text_covers(std::string_view text, int left, int top, int scale, double x, double y) {
    const int col = static_cast<int>(std::floor((x - left) / scale));
    const int row = static_cast<int>(std::floor((y - top) / scale));
    if (col < 0 || row < 0 || row >= kGlyphHeight) return false;
    const auto index = static_cast<std::size_t>(col / kGlyphAdvance);
    const int glyph_col = col % kGlyphAdvance;
    if (index >= text.size() || glyph_col >= kGlyphWidth) return false;
    for (const Glyph& g : kFont)
        if (g.c == text[index]) return g.rows[row][glyph_col] == '#';
    return false;
}

constexpr double kRingOuter = 47.0, kRingInner = 39.0;
constexpr std::string_view kName = "QUILLON";
constexpr int kInitialScale = 4;
constexpr int kInitialLeft = (kEmblemSize - text_width("Q", kInitialScale)) / 2;
constexpr int kInitialTop = 20;
constexpr int kNameLeft = (kEmblemSize - text_width(kName, 1)) / 2;
constexpr int kNameTop = 56;

Sample emblem_shade(double fx, double fy) {
    const double x = fx * kEmblemSize, y = fy * kEmblemSize;
    const double r = std::hypot(x - kEmblemSize / 2.0, y - kEmblemSize / 2.0);
    if (r >= kRingInner && r <= kRingOuter) return {kRingGrey, 1};
    if (text_covers("Q", kInitialLeft, kInitialTop, kInitialScale, x, y)) return {kLetterBlue, 1};
    if (text_covers(kName, kNameLeft, kNameTop, 1, x, y)) return {kLetterGrey, 1};
    return {kWhite, 1};
}

// ---- Output --------------------------------------------------------------------

template <std::size_t N>
void define(std::ostream& out, const char* name, int w, int h, int bytes_per_pixel, Sample (*shade)(double, double)) {
    std::array<std::uint8_t, N> bytes{};
    render(bytes, w, h, bytes_per_pixel, shade);
    out << "const std::array<std::uint8_t, " << N << "> " << name << " = {";
    for (std::size_t i = 0; i < N; ++i) out << (i % 24 == 0 ? "\n    " : "") << int{bytes[i]} << ',';
    out << "\n};\n\n";
}

void put16(std::ostream& out, unsigned v) {
    out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::ostream& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// The icon at each size as an .ico file: a directory, then per image a BITMAPINFOHEADER
// (twice the height, for the colour rows and the mask), the 32-bit rows bottom-up and
// an empty AND mask, since the alpha channel carries the shape.
std::string icon_file() {
    constexpr int kSizes[] = {128, 48, 32, 16};
    std::ostringstream images;
    std::ostringstream out;
    put16(out, 0);
    put16(out, 1);  // an icon
    put16(out, std::size(kSizes));
    std::uint32_t offset = 6 + 16 * std::size(kSizes);
    for (int size : kSizes) {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
        render(pixels, size, size, 4, icon_shade);
        const std::uint32_t mask_row = ((size + 31) / 32) * 4;
        const std::uint32_t bytes = 40 + static_cast<std::uint32_t>(pixels.size()) + mask_row * size;
        out.put(static_cast<char>(size == 256 ? 0 : size)).put(static_cast<char>(size == 256 ? 0 : size));
        out.put(0).put(0);  // no palette, reserved
        put16(out, 1);
        put16(out, 32);
        put32(out, bytes);
        put32(out, offset);
        offset += bytes;
        put32(images, 40);
        put32(images, static_cast<std::uint32_t>(size));
        put32(images, static_cast<std::uint32_t>(size * 2));
        put16(images, 1);
        put16(images, 32);
        for (int i = 0; i < 6; ++i) put32(images, 0);
        images.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
        images << std::string(mask_row * size, '\0');
    }
    return out.str() + images.str();
}

// The icon at `size` as a PNG file: 8-bit RGBA rows top-down, each with the "Sub"
// filter, which turns the icon's flat runs into zeros for zlib.
std::string png_file(int size) {
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(size) * size * 4);
    render(bgra, size, size, 4, icon_shade);
    const std::size_t row_bytes = static_cast<std::size_t>(size) * 4;
    std::vector<std::uint8_t> rows;
    rows.reserve((row_bytes + 1) * size);
    for (int y = 0; y < size; ++y) {
        const std::uint8_t* bottom_up = &bgra[static_cast<std::size_t>(size - 1 - y) * row_bytes];
        std::uint8_t previous[4] = {};
        rows.push_back(1);
        for (int x = 0; x < size; ++x) {
            const std::uint8_t* p = bottom_up + static_cast<std::size_t>(x) * 4;
            const std::uint8_t rgba[4] = {p[2], p[1], p[0], p[3]};
            for (int c = 0; c < 4; ++c) {
                rows.push_back(static_cast<std::uint8_t>(rgba[c] - previous[c]));
                previous[c] = rgba[c];
            }
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, rows.data(), static_cast<uLong>(rows.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packed_size);

    std::ostringstream out;
    auto put32_big = [](std::ostream& o, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) o.put(static_cast<char>((v >> shift) & 0xFF));
    };
    auto chunk = [&](const char* type, const std::string& data) {
        put32_big(out, static_cast<std::uint32_t>(data.size()));
        const std::string typed = type + data;
        out << typed;
        put32_big(out, static_cast<std::uint32_t>(
                           crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
    };
    std::ostringstream header;
    put32_big(header, static_cast<std::uint32_t>(size));
    put32_big(header, static_cast<std::uint32_t>(size));
    header.put(8).put(6).put(0).put(0).put(0);  // 8 bits a channel, RGBA, deflate, adaptive filters, no interlace
    out << "\x89PNG\r\n\x1a\n";
    chunk("IHDR", header.str());
    chunk("IDAT", packed);
    chunk("IEND", "");
    return out.str();
}

// Written whole and then renamed, so an interrupted build never leaves half a file.
bool write_file(const std::string& path, const std::string& contents) {
    const std::string partial = path + ".part";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << contents;
    file.close();
    if (!file || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace

// The sizes of the desktop's icon theme that applications usually fill.
constexpr int kHicolorSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

int write_hicolor(const char* program, const std::filesystem::path& dir) {
    for (int size : kHicolorSizes) {
        const std::string side = std::to_string(size);
        const std::filesystem::path folder = dir / (side + "x" + side) / "apps";
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        const std::string png = png_file(size);
        if (error || png.empty() || !write_file((folder / "quillon.png").string(), png)) {
            std::fprintf(stderr, "%s: cannot write %s\n", program, (folder / "quillon.png").c_str());
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--hicolor") return write_hicolor(argv[0], argv[2]);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp [ICON.ico]\n       %s --hicolor DIR\n", argv[0], argv[0]);
        return 2;
    }
    namespace px = quillon_res::pixels;
    std::ostringstream out;
    out << "// Quillon's icon and emblem pixels, written by quillon_draw_images. Do not edit.\n"
           "#include \"res/pixels.h\"\n\nnamespace quillon_res::pixels {\n\n";
    define<px::icon128.size()>(out, "icon128", 128, 128, 4, icon_shade);
    define<px::icon48.size()>(out, "icon48", 48, 48, 4, icon_shade);
    define<px::icon32.size()>(out, "icon32", 32, 32, 4, icon_shade);
    define<px::icon16.size()>(out, "icon16", 16, 16, 4, icon_shade);
    define<px::emblem.size()>(out, "emblem", kEmblemSize, kEmblemSize, 3, emblem_shade);
    out << "}  // namespace quillon_res::pixels\n";

    if (!write_file(argv[1], out.str())) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    if (argc == 3 && !write_file(argv[2], icon_file())) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
