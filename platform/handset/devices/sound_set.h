// The program's sound set, built into the emulator from res/sound/ so that every new
// device gets it whatever folder the emulator runs from.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace handset {

struct SoundFile {
    std::string_view name;  // "missedCall.wav"
    std::span<const std::uint8_t> bytes;
};

// The files in a fixed order. Throws std::logic_error when the built-in data do not
// hold the expected WAV files (a build fault).
const std::vector<SoundFile>& sound_set();

}  // namespace handset
