// The host's FreeType and libpng, loaded when something first asks for pixels rather
// than with the emulator: most runs of the phone never draw a pixel, and mapping the two
// libraries (with the compression libraries they bring) at start-up would grow every
// phone's start-up and memory for nothing.
#pragma once

#include <ft2build.h>
#include <png.h>
#include FT_FREETYPE_H

#include <string>

namespace handset {

// The FreeType functions the pixel font uses.
struct FreeTypeLibrary {
    decltype(&::FT_Init_FreeType) Init_FreeType;
    decltype(&::FT_Done_FreeType) Done_FreeType;
    decltype(&::FT_New_Face) New_Face;
    decltype(&::FT_Done_Face) Done_Face;
    decltype(&::FT_Set_Pixel_Sizes) Set_Pixel_Sizes;
    decltype(&::FT_Get_Char_Index) Get_Char_Index;
    decltype(&::FT_Load_Glyph) Load_Glyph;
    decltype(&::FT_Render_Glyph) Render_Glyph;
};

// The libpng functions the PNG writer uses.
struct PngLibrary {
    decltype(&::png_image_write_to_stdio) image_write_to_stdio;
    decltype(&::png_image_free) image_free;
};

// Each is loaded on its first call (thread-safe) and stays loaded; null with `error`
// naming the missing library and its Debian package when the host has none.
const FreeTypeLibrary* freetype_library(std::string& error);
const PngLibrary* png_library(std::string& error);

}  // namespace handset
