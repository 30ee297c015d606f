// Host libraries opened by their sonames when a service first needs them, rather than
// linked with the emulator: SDL2 for sound and the phone window, FreeType and libpng for
// pixels. A service declares the functions it takes from a library, each once with its
// name, and resolves them here, all or none.
//
// Header-only, so that a source compiled alone (the WAV fuzz target) can use it.
#pragma once

#include <dlfcn.h>

#include <vector>

namespace handset {

// Opens `soname` for good: what a service takes from it (functions, glyphs, an audio
// thread) may be in use until the process ends, so it is never closed. Null when the
// host has no such library.
inline void* open_library(const char* soname) {
    return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

// The functions a service takes from one library: the members of a struct derived from
// this, each a LibraryFunction that registers itself as it is made.
class LibraryFunctions {
public:
    LibraryFunctions() = default;
    LibraryFunctions(const LibraryFunctions&) = delete;
    LibraryFunctions& operator=(const LibraryFunctions&) = delete;

    // Resolves every function in `library`, stopping at the first it lacks; true when it
    // has them all.
    bool resolve_in(void* library) {
        for (const Entry& e : entries_) {
            void* const address = ::dlsym(library, e.name);
            if (!address) return false;
            e.assign(e.slot, address);
        }
        return true;
    }

private:
    template <class Signature>
    friend class LibraryFunction;

    struct Entry {
        const char* name;
        void* slot;
        void (*assign)(void* slot, void* address);
    };
    std::vector<Entry> entries_;
};

template <class Signature>
class LibraryFunction;

// One function of a library by its name, called like the function once resolved.
template <class R, class... Args>
class LibraryFunction<R(Args...)> {
public:
    LibraryFunction(LibraryFunctions& set, const char* name) {
        set.entries_.push_back({name, &address_, [](void* slot, void* address) {
                                    *static_cast<Pointer*>(slot) = reinterpret_cast<Pointer>(address);
                                }});
    }
    LibraryFunction(const LibraryFunction&) = delete;
    LibraryFunction& operator=(const LibraryFunction&) = delete;

    R operator()(Args... args) const { return address_(args...); }

private:
    using Pointer = R (*)(Args...);
    Pointer address_ = nullptr;
};

}  // namespace handset
