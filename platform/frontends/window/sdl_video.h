// The host's SDL2 video and event functions, loaded when the phone window opens rather
// than with the emulator: the headless and terminal phones never map SDL's video or its
// display libraries (see sdl_library.h, which loads the same library for sound).
#pragma once

#include <SDL2/SDL.h>
#include <dlfcn.h>

#include <string>

namespace handset::frontend {

// The SDL2 functions the phone window uses.
struct SdlVideo {
    decltype(&::SDL_SetHint) SetHint;
    decltype(&::SDL_InitSubSystem) InitSubSystem;
    decltype(&::SDL_QuitSubSystem) QuitSubSystem;
    decltype(&::SDL_GetCurrentVideoDriver) GetCurrentVideoDriver;
    decltype(&::SDL_GetError) GetError;
    decltype(&::SDL_CreateWindow) CreateWindow;
    decltype(&::SDL_DestroyWindow) DestroyWindow;
    decltype(&::SDL_GetWindowSurface) GetWindowSurface;
    decltype(&::SDL_UpdateWindowSurface) UpdateWindowSurface;
    decltype(&::SDL_ConvertPixels) ConvertPixels;
    decltype(&::SDL_WaitEventTimeout) WaitEventTimeout;
    decltype(&::SDL_PollEvent) PollEvent;
    decltype(&::SDL_PushEvent) PushEvent;
    decltype(&::SDL_RegisterEvents) RegisterEvents;
    decltype(&::SDL_EventState) EventState;
    decltype(&::SDL_GetKeyName) GetKeyName;
    decltype(&::SDL_StartTextInput) StartTextInput;
    decltype(&::SDL_GetDisplayUsableBounds) GetDisplayUsableBounds;
    decltype(&::SDL_GetWindowSize) GetWindowSize;
};

namespace sdl_video_detail {

template <class F>
bool resolve(void* library, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(library, name));
    return out != nullptr;
}

inline const SdlVideo* load(std::string& error) {
    // Never closed: the sound service may hold the same library.
    void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        error = "SDL2 is not installed (libSDL2-2.0.so.0, Debian package libsdl2-2.0-0)";
        return nullptr;
    }
    static SdlVideo api;
    const bool complete = resolve(library, "SDL_SetHint", api.SetHint) &&
                          resolve(library, "SDL_InitSubSystem", api.InitSubSystem) &&
                          resolve(library, "SDL_QuitSubSystem", api.QuitSubSystem) &&
                          resolve(library, "SDL_GetCurrentVideoDriver", api.GetCurrentVideoDriver) &&
                          resolve(library, "SDL_GetError", api.GetError) &&
                          resolve(library, "SDL_CreateWindow", api.CreateWindow) &&
                          resolve(library, "SDL_DestroyWindow", api.DestroyWindow) &&
                          resolve(library, "SDL_GetWindowSurface", api.GetWindowSurface) &&
                          resolve(library, "SDL_UpdateWindowSurface", api.UpdateWindowSurface) &&
                          resolve(library, "SDL_ConvertPixels", api.ConvertPixels) &&
                          resolve(library, "SDL_WaitEventTimeout", api.WaitEventTimeout) &&
                          resolve(library, "SDL_PollEvent", api.PollEvent) &&
                          resolve(library, "SDL_PushEvent", api.PushEvent) &&
                          resolve(library, "SDL_RegisterEvents", api.RegisterEvents) &&
                          resolve(library, "SDL_EventState", api.EventState) &&
                          resolve(library, "SDL_GetKeyName", api.GetKeyName) &&
                          resolve(library, "SDL_StartTextInput", api.StartTextInput) &&
                          resolve(library, "SDL_GetDisplayUsableBounds", api.GetDisplayUsableBounds) &&
                          resolve(library, "SDL_GetWindowSize", api.GetWindowSize);
    if (!complete) {
        error = "the host's SDL2 lacks functions the window needs (SDL 2.0.18 or later)";
        return nullptr;
    }
    return &api;
}

}  // namespace sdl_video_detail

// SDL2's video and events, loaded on the first call; null with `error` when the host
// has no usable SDL2. Call from one thread (the window's).
inline const SdlVideo* sdl_video(std::string& error) {
    static const SdlVideo* api = nullptr;
    if (!api) api = sdl_video_detail::load(error);
    return api;
}

}  // namespace handset::frontend
