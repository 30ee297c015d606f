// Loading FreeType and libpng by their sonames, and resolving the functions used.
#include "platform/handset/display/pixel_libraries.h"

#include <dlfcn.h>

#include <functional>

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

    template <class Api>
    const Api* result(const Api& api, std::string& out) const {
        if (!ok) out = error;
        return ok ? &api : nullptr;
    }
};

// Opens `soname` for good (glyphs and images from it live as long as the process) and
// resolves its functions through `resolve_all`.
Loaded load(const char* soname, const char* package, const std::function<bool(void*)>& resolve_all) {
    Loaded l;
    void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        l.error = std::string("cannot load ") + soname + " (install " + package + ")";
    else if (!(l.ok = resolve_all(library)))
        l.error = std::string(soname) + " lacks a function the screen needs";
    return l;
}

}  // namespace

const FreeTypeLibrary* freetype_library(std::string& error) {
    static FreeTypeLibrary api;
    static const Loaded loaded = load("libfreetype.so.6", "libfreetype6", [](void* library) {
        return resolve(library, "FT_Init_FreeType", api.Init_FreeType) &&
               resolve(library, "FT_Done_FreeType", api.Done_FreeType) &&
               resolve(library, "FT_New_Face", api.New_Face) && resolve(library, "FT_Done_Face", api.Done_Face) &&
               resolve(library, "FT_Set_Pixel_Sizes", api.Set_Pixel_Sizes) &&
               resolve(library, "FT_Get_Char_Index", api.Get_Char_Index) &&
               resolve(library, "FT_Load_Glyph", api.Load_Glyph) &&
               resolve(library, "FT_Render_Glyph", api.Render_Glyph);
    });
    return loaded.result(api, error);
}

const PngLibrary* png_library(std::string& error) {
    static PngLibrary api;
    static const Loaded loaded = load("libpng16.so.16", "libpng16-16", [](void* library) {
        return resolve(library, "png_image_write_to_stdio", api.image_write_to_stdio) &&
               resolve(library, "png_image_free", api.image_free);
    });
    return loaded.result(api, error);
}

}  // namespace handset
