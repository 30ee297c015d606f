// Loading FreeType and libpng by their sonames, and resolving the functions used.
#include "platform/handset/window/pixel_libraries.h"

#include <dlfcn.h>

namespace handset {
namespace {

template <class F>
bool resolve(void* library, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(library, name));
    return out != nullptr;
}

struct Loaded {
    bool ok = false;
    std::string error;
};

// Opens `soname` for good: glyphs and images from it live as long as the process.
void* open(const char* soname, const char* package, std::string& error) {
    void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library) error = std::string("cannot load ") + soname + " (install " + package + ")";
    return library;
}

}  // namespace

const FreeTypeLibrary* freetype_library(std::string& error) {
    static FreeTypeLibrary api;
    static const Loaded loaded = [] {
        Loaded l;
        void* library = open("libfreetype.so.6", "libfreetype6", l.error);
        l.ok = library && resolve(library, "FT_Init_FreeType", api.Init_FreeType) &&
               resolve(library, "FT_Done_FreeType", api.Done_FreeType) &&
               resolve(library, "FT_New_Face", api.New_Face) && resolve(library, "FT_Done_Face", api.Done_Face) &&
               resolve(library, "FT_Set_Pixel_Sizes", api.Set_Pixel_Sizes) &&
               resolve(library, "FT_Get_Char_Index", api.Get_Char_Index) &&
               resolve(library, "FT_Load_Glyph", api.Load_Glyph) &&
               resolve(library, "FT_Render_Glyph", api.Render_Glyph);
        if (library && !l.ok) l.error = "libfreetype.so.6 lacks a function the screen's font needs";
        return l;
    }();
    if (!loaded.ok) error = loaded.error;
    return loaded.ok ? &api : nullptr;
}

const PngLibrary* png_library(std::string& error) {
    static PngLibrary api;
    static const Loaded loaded = [] {
        Loaded l;
        void* library = open("libpng16.so.16", "libpng16-16", l.error);
        l.ok = library && resolve(library, "png_image_write_to_stdio", api.image_write_to_stdio) &&
               resolve(library, "png_image_free", api.image_free);
        if (library && !l.ok) l.error = "libpng16.so.16 lacks a function the PNG writer needs";
        return l;
    }();
    if (!loaded.ok) error = loaded.error;
    return loaded.ok ? &api : nullptr;
}

}  // namespace handset
