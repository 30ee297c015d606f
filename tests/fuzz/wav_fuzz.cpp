// Fuzzes WAV decoding as sndPlaySound does it: any file bytes give a sound or
// nothing, never a crash, and the playing time does not depend on whether the
// samples were asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/handset/devices/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto timed = handset::decode_wav(bytes, false);
    const auto played = handset::decode_wav(bytes, true);
    if (timed.has_value() != played.has_value()) std::abort();
    if (!timed) return 0;
    if (timed->samples || timed->duration_ms < 0 || played->duration_ms != timed->duration_ms) std::abort();
    return 0;
}
