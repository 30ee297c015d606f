// FreeType behind PixelFont: a face and its fallbacks, monochrome glyphs cached by size
// and character.
#include "platform/handset/display/pixel_font.h"

#include <cstdint>
#include <mutex>
#include <utility>
#include <unordered_map>
#include <vector>

#include "platform/handset/display/pixel_libraries.h"

namespace handset {

struct PixelFont::Impl {
    struct Glyph {
        int left = 0, top = 0, width = 0, rows = 0, advance = 0;
        std::vector<std::uint8_t> ink;  // one byte per pixel, rows top-down
    };

    struct Face {
        FT_Face face = nullptr;
        int size = 0;  // pixels per em the face is set to
    };

    std::mutex mu;
    const FreeTypeLibrary* ft = nullptr;
    FT_Library library = nullptr;
    FT_Face face = nullptr;                       // the main face: metrics, and glyphs it has
    std::vector<Face> faces;                      // the main face, then the fallbacks, in order
    std::unordered_map<std::uint64_t, Glyph> glyphs;
    std::unordered_map<int, Metrics> metrics;

    ~Impl() {
        for (const Face& f : faces) ft->Done_Face(f.face);
        if (library) ft->Done_FreeType(library);
    }

    void set_size(Face& f, int pixels) {
        if (f.size == pixels) return;
        ft->Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(pixels));
        f.size = pixels;
    }
    void set_size(int pixels) { set_size(faces.front(), pixels); }

    // The first face that has `c`, and its glyph index; the main face's missing-glyph
    // box (index 0) when none has it.
    std::pair<Face*, FT_UInt> find(char32_t c) {
        for (Face& f : faces)
            if (const FT_UInt index = ft->Get_Char_Index(f.face, c)) return {&f, index};
        return {&faces.front(), 0};
    }

    const Glyph& glyph(int pixels, char32_t c) {
        const std::uint64_t key = static_cast<std::uint64_t>(pixels) << 32 | c;
        if (auto it = glyphs.find(key); it != glyphs.end()) return it->second;
        const auto [f, index] = find(c);
        set_size(*f, pixels);
        FT_Face face = f->face;
        Glyph g;
        // The font's own instructions and a one-bit target: crisp strokes, no grey fringe.
        if (ft->Load_Glyph(face, index, FT_LOAD_TARGET_MONO) == 0 &&
            ft->Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) == 0) {
            const FT_Bitmap& b = face->glyph->bitmap;
            g.left = face->glyph->bitmap_left;
            g.top = face->glyph->bitmap_top;
            g.width = static_cast<int>(b.width);
            g.rows = static_cast<int>(b.rows);
            g.advance = static_cast<int>((face->glyph->advance.x + 32) >> 6);
            g.ink.resize(static_cast<std::size_t>(g.width * g.rows));
            for (int y = 0; y < g.rows; ++y)
                for (int x = 0; x < g.width; ++x)
                    g.ink[static_cast<std::size_t>(y * g.width + x)] = b.buffer[y * b.pitch + x / 8] >> (7 - x % 8) & 1;
        }
        return glyphs.emplace(key, std::move(g)).first->second;
    }
};

int font_pixels(int points, int dpi) {
    return (points * dpi + 36) / 72;
}

std::unique_ptr<PixelFont> PixelFont::load(const std::filesystem::path& file, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->ft = freetype_library(error);
    if (!impl->ft) return nullptr;
    if (impl->ft->Init_FreeType(&impl->library) != 0) {
        error = "the font engine could not start";
        return nullptr;
    }
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        error = "the screen's font " + file.string() + " is missing (install fonts-baekmuk: tools/install-deps)";
        return nullptr;
    }
    if (impl->ft->New_Face(impl->library, file.c_str(), 0, &impl->face) != 0 || !FT_IS_SCALABLE(impl->face)) {
        if (impl->face) impl->ft->Done_Face(impl->face);
        impl->face = nullptr;
        error = "the screen's font " + file.string() + " is not a readable scalable font";
        return nullptr;
    }
    impl->faces.push_back({impl->face, 0});
    return std::unique_ptr<PixelFont>(new PixelFont(std::move(impl)));
}

bool PixelFont::add_fallback(const std::filesystem::path& file, std::string& error) {
    std::lock_guard lock(impl_->mu);
    FT_Face face = nullptr;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        error = "the font " + file.string() + " is missing";
        return false;
    }
    if (impl_->ft->New_Face(impl_->library, file.c_str(), 0, &face) != 0 || !FT_IS_SCALABLE(face)) {
        if (face) impl_->ft->Done_Face(face);
        error = "the font " + file.string() + " is not a readable scalable font";
        return false;
    }
    impl_->faces.push_back({face, 0});
    impl_->glyphs.clear();  // a character that had no glyph may have one now
    return true;
}

bool PixelFont::has_glyph(char32_t c) {
    std::lock_guard lock(impl_->mu);
    return impl_->find(c).second != 0;
}

PixelFont::PixelFont(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PixelFont::~PixelFont() = default;

PixelFont::Metrics PixelFont::metrics(int pixels) {
    std::lock_guard lock(impl_->mu);
    if (auto it = impl_->metrics.find(pixels); it != impl_->metrics.end()) return it->second;
    impl_->set_size(pixels);
    Metrics m;
    // Hinted size metrics are whole pixels that hold every glyph's extent.
    m.ascent = static_cast<int>(impl_->face->size->metrics.ascender >> 6);
    m.descent = static_cast<int>(-impl_->face->size->metrics.descender >> 6);
    m.height = m.ascent + m.descent;
    int total = 0;
    for (char32_t c = U'a'; c <= U'z'; ++c) total += impl_->glyph(pixels, c).advance;
    for (char32_t c = U'A'; c <= U'Z'; ++c) total += impl_->glyph(pixels, c).advance;
    m.average_width = (total / 26 + 1) / 2;
    return impl_->metrics.emplace(pixels, m).first->second;
}

int PixelFont::width(int pixels, std::u32string_view text) {
    std::lock_guard lock(impl_->mu);
    int w = 0;
    for (char32_t c : text) w += impl_->glyph(pixels, c).advance;
    return w;
}

int PixelFont::draw(Canvas& canvas, int x, int baseline, int pixels, std::u32string_view text, Colour colour) {
    std::lock_guard lock(impl_->mu);
    for (char32_t c : text) {
        const Impl::Glyph& g = impl_->glyph(pixels, c);
        const int x0 = x + g.left, y0 = baseline - g.top;
        for (int y = 0; y < g.rows; ++y)
            for (int gx = 0; gx < g.width; ++gx)
                if (g.ink[static_cast<std::size_t>(y * g.width + gx)]) canvas.pixel(x0 + gx, y0 + y, colour);
        x += g.advance;
    }
    return x;
}

}  // namespace handset
