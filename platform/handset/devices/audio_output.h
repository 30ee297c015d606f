// The host's audio output for the phone's loudspeaker: one sound at a time (a new one
// replaces it) and key clicks mixed over it. Samples are mono 16 kHz signed 16-bit,
// the format of the phone's sound set.
//
// Output is off until switched on; with it off, or on a machine without a sound
// device, every call is accepted and does nothing. Nothing here waits for the audio
// device: the handset clock times the sounds.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace handset::audio {

constexpr int kSampleRate = 16000;

using Samples = std::shared_ptr<const std::vector<std::int16_t>>;

// Opens the host's audio device on the first switch-on (quietly: nothing from the
// audio library reaches the terminal). Switching off closes it.
void set_enabled(bool enabled);
// Whether samples are wanted: output is on and a device is open.
bool active();

// Starts `samples` in place of the sound playing now; a looped sound plays until the
// next play or stop.
void play(Samples samples, bool loop = false);
void stop();
void click();

// `ms` milliseconds of a sine tone at `hz`, fading out over its last quarter.
std::vector<std::int16_t> tone(int hz, int ms, double amplitude);

}  // namespace handset::audio
