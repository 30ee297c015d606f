// The host's SDL2 video and event functions, loaded when the phone window opens rather
// than with the emulator: the headless and terminal phones never map SDL's video or its
// display libraries (see sdl_library.h, which loads the same library for sound).
#pragma once

#include <SDL2/SDL.h>

#include <string>

#include "platform/handset/core/dynamic_library.h"

namespace frontends {

// The SDL2 functions the phone window uses.
struct SdlVideo : handset::LibraryFunctions {
    handset::LibraryFunction<decltype(::SDL_SetHint)> SetHint{*this, "SDL_SetHint"};
    handset::LibraryFunction<decltype(::SDL_InitSubSystem)> InitSubSystem{*this, "SDL_InitSubSystem"};
    handset::LibraryFunction<decltype(::SDL_QuitSubSystem)> QuitSubSystem{*this, "SDL_QuitSubSystem"};
    handset::LibraryFunction<decltype(::SDL_GetCurrentVideoDriver)> GetCurrentVideoDriver{*this,
                                                                                          "SDL_GetCurrentVideoDriver"};
    handset::LibraryFunction<decltype(::SDL_GetError)> GetError{*this, "SDL_GetError"};
    handset::LibraryFunction<decltype(::SDL_CreateWindow)> CreateWindow{*this, "SDL_CreateWindow"};
    handset::LibraryFunction<decltype(::SDL_DestroyWindow)> DestroyWindow{*this, "SDL_DestroyWindow"};
    handset::LibraryFunction<decltype(::SDL_GetWindowSurface)> GetWindowSurface{*this, "SDL_GetWindowSurface"};
    handset::LibraryFunction<decltype(::SDL_UpdateWindowSurface)> UpdateWindowSurface{*this, "SDL_UpdateWindowSurface"};
    handset::LibraryFunction<decltype(::SDL_ConvertPixels)> ConvertPixels{*this, "SDL_ConvertPixels"};
    handset::LibraryFunction<decltype(::SDL_WaitEventTimeout)> WaitEventTimeout{*this, "SDL_WaitEventTimeout"};
    handset::LibraryFunction<decltype(::SDL_PollEvent)> PollEvent{*this, "SDL_PollEvent"};
    handset::LibraryFunction<decltype(::SDL_PushEvent)> PushEvent{*this, "SDL_PushEvent"};
    handset::LibraryFunction<decltype(::SDL_RegisterEvents)> RegisterEvents{*this, "SDL_RegisterEvents"};
    handset::LibraryFunction<decltype(::SDL_EventState)> EventState{*this, "SDL_EventState"};
    handset::LibraryFunction<decltype(::SDL_GetKeyName)> GetKeyName{*this, "SDL_GetKeyName"};
    handset::LibraryFunction<decltype(::SDL_StartTextInput)> StartTextInput{*this, "SDL_StartTextInput"};
    handset::LibraryFunction<decltype(::SDL_GetDisplayUsableBounds)> GetDisplayUsableBounds{*this, "SDL_GetDisplayUsableBounds"};
    handset::LibraryFunction<decltype(::SDL_GetWindowSize)> GetWindowSize{*this, "SDL_GetWindowSize"};
};

namespace sdl_video_detail {

inline const SdlVideo* load(std::string& error) {
    void* library = handset::open_library("libSDL2-2.0.so.0");
    if (!library) {
        error = "SDL2 is not installed (libSDL2-2.0.so.0, Debian package libsdl2-2.0-0)";
        return nullptr;
    }
    static SdlVideo api;
    if (!api.resolve_in(library)) {
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

}  // namespace frontends
