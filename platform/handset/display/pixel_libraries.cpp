// Loading FreeType and libpng by their sonames, and resolving the functions used.
#include "platform/handset/display/pixel_libraries.h"

namespace handset {
namespace {

struct Loaded {
    bool ok = false;
    std::string error;

    template <class Api>
    const Api* result(const Api& api, std::string& out) const {
        if (!ok) out = error;
        return ok ? &api : nullptr;
    }
};

// Opens `soname` (glyphs and images from it live as long as the process) and resolves
// `functions` in it.
Loaded load(const char* soname, const char* package, LibraryFunctions& functions) {
    Loaded l;
    void* library = open_library(soname);
    if (!library)
        l.error = std::string("cannot load ") + soname + " (install " + package + ")";
    else if (!(l.ok = functions.resolve_in(library)))
        l.error = std::string(soname) + " lacks a function the screen needs";
    return l;
}

}  // namespace

const FreeTypeLibrary* freetype_library(std::string& error) {
    static FreeTypeLibrary api;
    static const Loaded loaded = load("libfreetype.so.6", "libfreetype6", api);
    return loaded.result(api, error);
}

const PngLibrary* png_library(std::string& error) {
    static PngLibrary api;
    static const Loaded loaded = load("libpng16.so.16", "libpng16-16", api);
    return loaded.result(api, error);
}

}  // namespace handset
