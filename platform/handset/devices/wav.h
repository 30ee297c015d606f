// WAV files as the sound service needs them: their playing time and, when the audio
// output wants them, their samples in the output's format.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/handset/devices/audio_output.h"

namespace handset {

struct WavSound {
    long long duration_ms = 0;  // rounded to the nearest millisecond
    audio::Samples samples;     // mono 16 kHz; null unless asked for
};

// Decodes the bytes of a WAV file (any encoding SDL reads: PCM, IEEE float, ADPCM,
// A-law, mu-law). Nothing when they are not a playable WAV.
// Without samples, a plain PCM file is timed from its header alone (see below) and
// SDL2 is not needed.
std::optional<WavSound> decode_wav(std::span<const std::uint8_t> bytes, bool want_samples);

// The playing time of a plain PCM or 32-bit float file, read from its header: "RIFF",
// "WAVE", a "fmt " chunk that SDL's loader accepts and right after it a "data" chunk that
// lies wholly within the file. SDL's loader reads such a file to the same number of
// frames (it stops at the data chunk, and a RIFF length that ends inside the data does
// not shorten it). Nothing for any other file, which only SDL's loader can judge, and
// nothing while one of SDL's WAVE hint variables is set in the environment.
std::optional<long long> plain_pcm_duration_ms(std::span<const std::uint8_t> bytes);

}  // namespace handset
