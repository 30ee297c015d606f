// The screen's font: the handset's Korean system font (Baekmuk Dotum, from Debian's
// fonts-baekmuk), rasterised by FreeType. Glyphs are hinted by the font's own TrueType
// instructions and rendered to one bit per pixel, so that every Hangul stroke lands on
// whole pixels at dialog sizes of 11 and 12 pixels; rendered glyphs are cached.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/handset/display/pixel_canvas.h"

namespace handset {

// The file that fonts-baekmuk installs.
inline const std::filesystem::path kSystemFontFile = "/usr/share/fonts/truetype/baekmuk/dotum.ttf";

// Pixels per em of a font of `points` at `dpi`, rounded as the platform's MulDiv rounds.
int font_pixels(int points, int dpi);

class PixelFont {
public:
    // Null with `error` when the file is missing or is not a usable font.
    static std::unique_ptr<PixelFont> load(const std::filesystem::path& file, std::string& error);
    ~PixelFont();
    PixelFont(const PixelFont&) = delete;
    PixelFont& operator=(const PixelFont&) = delete;

    struct Metrics {
        int ascent = 0;   // baseline below the line's top
        int descent = 0;  // below the baseline
        int height = 0;   // ascent + descent: one line
        // The dialog manager's average character width: the mean advance of a-z and A-Z,
        // rounded as the platform rounds it.
        int average_width = 0;
    };
    // Adds a face that draws the characters this one lacks (and the faces added before
    // it); false with `error` when the file is missing or no usable font.
    bool add_fallback(const std::filesystem::path& file, std::string& error);
    // Whether some face has a glyph for `c`; without one, `c` draws as the main face's
    // missing-glyph box.
    bool has_glyph(char32_t c);

    // All members are thread-safe; `pixels` is the size in pixels per em.
    Metrics metrics(int pixels);
    int width(int pixels, std::u32string_view text);
    // Draws `text` from x with its baseline at `baseline`; returns the pen's x after it.
    int draw(Canvas& canvas, int x, int baseline, int pixels, std::u32string_view text, Colour colour);

private:
    struct Impl;
    explicit PixelFont(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace handset
