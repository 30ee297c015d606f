// The host's FreeType and libpng, loaded when something first asks for pixels rather
// than with the emulator: most runs of the phone never draw a pixel, and mapping the two
// libraries (with the compression libraries they bring) at start-up would grow every
// phone's start-up and memory for nothing.
#pragma once

#include <ft2build.h>
#include <png.h>
#include FT_FREETYPE_H

#include <string>

#include "platform/handset/core/dynamic_library.h"

namespace handset {

// The FreeType functions the pixel font uses.
struct FreeTypeLibrary : LibraryFunctions {
    LibraryFunction<decltype(::FT_Init_FreeType)> Init_FreeType{*this, "FT_Init_FreeType"};
    LibraryFunction<decltype(::FT_Done_FreeType)> Done_FreeType{*this, "FT_Done_FreeType"};
    LibraryFunction<decltype(::FT_New_Face)> New_Face{*this, "FT_New_Face"};
    LibraryFunction<decltype(::FT_Done_Face)> Done_Face{*this, "FT_Done_Face"};
    LibraryFunction<decltype(::FT_Set_Pixel_Sizes)> Set_Pixel_Sizes{*this, "FT_Set_Pixel_Sizes"};
    LibraryFunction<decltype(::FT_Get_Char_Index)> Get_Char_Index{*this, "FT_Get_Char_Index"};
    LibraryFunction<decltype(::FT_Load_Glyph)> Load_Glyph{*this, "FT_Load_Glyph"};
    LibraryFunction<decltype(::FT_Render_Glyph)> Render_Glyph{*this, "FT_Render_Glyph"};
};

// The libpng functions the PNG writer uses.
struct PngLibrary : LibraryFunctions {
    LibraryFunction<decltype(::png_image_write_to_stdio)> image_write_to_stdio{*this, "png_image_write_to_stdio"};
    LibraryFunction<decltype(::png_image_free)> image_free{*this, "png_image_free"};
};

// Each is loaded on its first call (thread-safe) and stays loaded; null with `error`
// naming the missing library and its Debian package when the host has none.
const FreeTypeLibrary* freetype_library(std::string& error);
const PngLibrary* png_library(std::string& error);

}  // namespace handset
