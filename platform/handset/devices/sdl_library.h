// The host's SDL2, loaded when a sound first needs it rather than with the emulator.
//
// SDL2 brings some fifty libraries with it (X11, Wayland, PulseAudio, ALSA and their
// codecs); mapping and relocating them at start-up would cost more time and memory than
// the rest of the emulator together, although most runs never decode or play a sample.
// The sound service reads the playing time of a plain PCM file itself (wav.cpp) and
// comes here only for samples, for other encodings and for the audio device.
//
// Header-only, so that wav.cpp can be compiled alone (the WAV fuzz target does).
#pragma once

#include <SDL2/SDL.h>

#include "platform/handset/core/dynamic_library.h"

namespace handset {

// The SDL2 functions the handset uses.
struct SdlLibrary : LibraryFunctions {
    LibraryFunction<decltype(::SDL_RWFromConstMem)> RWFromConstMem{*this, "SDL_RWFromConstMem"};
    LibraryFunction<decltype(::SDL_LoadWAV_RW)> LoadWAV_RW{*this, "SDL_LoadWAV_RW"};
    LibraryFunction<decltype(::SDL_FreeWAV)> FreeWAV{*this, "SDL_FreeWAV"};
    LibraryFunction<decltype(::SDL_BuildAudioCVT)> BuildAudioCVT{*this, "SDL_BuildAudioCVT"};
    LibraryFunction<decltype(::SDL_ConvertAudio)> ConvertAudio{*this, "SDL_ConvertAudio"};
    LibraryFunction<decltype(::SDL_LogSetOutputFunction)> LogSetOutputFunction{*this, "SDL_LogSetOutputFunction"};
    LibraryFunction<decltype(::SDL_InitSubSystem)> InitSubSystem{*this, "SDL_InitSubSystem"};
    LibraryFunction<decltype(::SDL_QuitSubSystem)> QuitSubSystem{*this, "SDL_QuitSubSystem"};
    LibraryFunction<decltype(::SDL_OpenAudioDevice)> OpenAudioDevice{*this, "SDL_OpenAudioDevice"};
    LibraryFunction<decltype(::SDL_CloseAudioDevice)> CloseAudioDevice{*this, "SDL_CloseAudioDevice"};
    LibraryFunction<decltype(::SDL_PauseAudioDevice)> PauseAudioDevice{*this, "SDL_PauseAudioDevice"};
    LibraryFunction<decltype(::SDL_LockAudioDevice)> LockAudioDevice{*this, "SDL_LockAudioDevice"};
    LibraryFunction<decltype(::SDL_UnlockAudioDevice)> UnlockAudioDevice{*this, "SDL_UnlockAudioDevice"};
};

namespace sdl_detail {

inline const SdlLibrary* load() {
    void* library = open_library("libSDL2-2.0.so.0");
    if (!library) return nullptr;
    static SdlLibrary api;
    return api.resolve_in(library) ? &api : nullptr;
}

}  // namespace sdl_detail

// SDL2, loaded on the first call (thread-safe); null when the host has no usable SDL2,
// in which case no WAV decodes through it and the audio output stays off.
inline const SdlLibrary* sdl_library() {
    static const SdlLibrary* const api = sdl_detail::load();
    return api;
}

}  // namespace handset
