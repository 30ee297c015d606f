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
#include <dlfcn.h>

namespace handset {

// The SDL2 functions the handset uses.
struct SdlLibrary {
    decltype(&::SDL_RWFromConstMem) RWFromConstMem;
    decltype(&::SDL_LoadWAV_RW) LoadWAV_RW;
    decltype(&::SDL_FreeWAV) FreeWAV;
    decltype(&::SDL_BuildAudioCVT) BuildAudioCVT;
    decltype(&::SDL_ConvertAudio) ConvertAudio;
    decltype(&::SDL_LogSetOutputFunction) LogSetOutputFunction;
    decltype(&::SDL_InitSubSystem) InitSubSystem;
    decltype(&::SDL_QuitSubSystem) QuitSubSystem;
    decltype(&::SDL_OpenAudioDevice) OpenAudioDevice;
    decltype(&::SDL_CloseAudioDevice) CloseAudioDevice;
    decltype(&::SDL_PauseAudioDevice) PauseAudioDevice;
    decltype(&::SDL_LockAudioDevice) LockAudioDevice;
    decltype(&::SDL_UnlockAudioDevice) UnlockAudioDevice;
};

namespace sdl_detail {

template <class F>
bool resolve(void* library, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(library, name));
    return out != nullptr;
}

inline const SdlLibrary* load() {
    // Never closed: SDL's audio thread may run until the process ends.
    void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static SdlLibrary api;
    const bool complete = resolve(library, "SDL_RWFromConstMem", api.RWFromConstMem) &&
                          resolve(library, "SDL_LoadWAV_RW", api.LoadWAV_RW) &&
                          resolve(library, "SDL_FreeWAV", api.FreeWAV) &&
                          resolve(library, "SDL_BuildAudioCVT", api.BuildAudioCVT) &&
                          resolve(library, "SDL_ConvertAudio", api.ConvertAudio) &&
                          resolve(library, "SDL_LogSetOutputFunction", api.LogSetOutputFunction) &&
                          resolve(library, "SDL_InitSubSystem", api.InitSubSystem) &&
                          resolve(library, "SDL_QuitSubSystem", api.QuitSubSystem) &&
                          resolve(library, "SDL_OpenAudioDevice", api.OpenAudioDevice) &&
                          resolve(library, "SDL_CloseAudioDevice", api.CloseAudioDevice) &&
                          resolve(library, "SDL_PauseAudioDevice", api.PauseAudioDevice) &&
                          resolve(library, "SDL_LockAudioDevice", api.LockAudioDevice) &&
                          resolve(library, "SDL_UnlockAudioDevice", api.UnlockAudioDevice);
    return complete ? &api : nullptr;
}

}  // namespace sdl_detail

// SDL2, loaded on the first call (thread-safe); null when the host has no usable SDL2,
// in which case no WAV decodes through it and the audio output stays off.
inline const SdlLibrary* sdl_library() {
    static const SdlLibrary* const api = sdl_detail::load();
    return api;
}

}  // namespace handset
