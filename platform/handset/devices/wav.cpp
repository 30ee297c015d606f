// Decoding WAV files with SDL2's loader, which needs no initialised SDL.
#include "platform/handset/devices/wav.h"

#include <SDL2/SDL.h>

#include <cstring>
#include <vector>

namespace handset {
namespace {

// Converts SDL's decoded buffer to the output's mono 16 kHz 16-bit format.
audio::Samples convert(const SDL_AudioSpec& spec, const Uint8* data, Uint32 length) {
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, 1, audio::kSampleRate) < 0)
        return nullptr;
    std::vector<Uint8> work(static_cast<std::size_t>(length) * static_cast<std::size_t>(cvt.len_mult));
    std::memcpy(work.data(), data, length);
    cvt.buf = work.data();
    cvt.len = static_cast<int>(length);
    if (cvt.needed && SDL_ConvertAudio(&cvt) != 0) return nullptr;
    const std::size_t bytes = cvt.needed ? static_cast<std::size_t>(cvt.len_cvt) : length;
    auto samples = std::make_shared<std::vector<std::int16_t>>(bytes / sizeof(std::int16_t));
    std::memcpy(samples->data(), work.data(), samples->size() * sizeof(std::int16_t));
    return samples;
}

}  // namespace

std::optional<WavSound> decode_wav(std::span<const std::uint8_t> bytes, bool want_samples) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) return std::nullopt;
    SDL_AudioSpec spec{};
    Uint8* data = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &spec, &data, &length)) return std::nullopt;
    std::optional<WavSound> result;
    const long long frame_bytes = static_cast<long long>(SDL_AUDIO_BITSIZE(spec.format) / 8) * spec.channels;
    if (frame_bytes > 0 && spec.freq > 0) {
        const long long frames = length / frame_bytes;
        WavSound sound;
        sound.duration_ms = (frames * 1000 + spec.freq / 2) / spec.freq;
        if (want_samples) sound.samples = convert(spec, data, length);
        result = std::move(sound);
    }
    SDL_FreeWAV(data);
    return result;
}

}  // namespace handset
