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
std::optional<WavSound> decode_wav(std::span<const std::uint8_t> bytes, bool want_samples);

}  // namespace handset
