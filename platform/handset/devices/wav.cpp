// Decoding WAV files: the playing time of a plain PCM file from its header, everything
// else with SDL2's loader (which needs no initialised SDL).
#include "platform/handset/devices/wav.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/handset/devices/sdl_library.h"

namespace handset {
namespace {

// The largest conversion buffer a sound may need. Far above any sound the program
// plays; a small file with an absurd sample rate (1 Hz, resampled to 16 kHz) would
// otherwise ask for gigabytes. Such a sound keeps its playing time and plays silent.
constexpr std::size_t kMaxConversionBytes = std::size_t{256} << 20;

// Converts SDL's decoded buffer to the output's mono 16 kHz 16-bit format; null when
// it cannot be converted.
audio::Samples convert(const SdlLibrary& sdl, const SDL_AudioSpec& spec, const Uint8* data, Uint32 length) {
    if (length == 0 || !data) return std::make_shared<const std::vector<std::int16_t>>();
    SDL_AudioCVT cvt;
    if (sdl.BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, 1, audio::kSampleRate) < 0)
        return nullptr;
    if (length > static_cast<Uint32>(INT32_MAX) || cvt.len_mult <= 0 ||
        length > kMaxConversionBytes / static_cast<std::size_t>(cvt.len_mult))
        return nullptr;
    std::vector<Uint8> work(static_cast<std::size_t>(length) * static_cast<std::size_t>(cvt.len_mult));
    std::memcpy(work.data(), data, length);
    cvt.buf = work.data();
    cvt.len = static_cast<int>(length);
    if (cvt.needed && sdl.ConvertAudio(&cvt) != 0) return nullptr;
    const std::size_t bytes = std::min(work.size(), cvt.needed ? static_cast<std::size_t>(cvt.len_cvt) : length);
    auto samples = std::make_shared<std::vector<std::int16_t>>(bytes / sizeof(std::int16_t));
    if (!samples->empty()) std::memcpy(samples->data(), work.data(), samples->size() * sizeof(std::int16_t));
    return samples;
}

// SDL's loader allocates a chunk's declared length before reading it, so a small file
// declaring a chunk of gigabytes would make it allocate gigabytes. A declared length
// that runs past the end of the file is cut to what the file holds (on a copy in
// `fixed`), so a truncated file plays as far as it goes.
std::span<const std::uint8_t> clamp_chunks(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& fixed) {
    auto word = [](const std::uint8_t* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    };
    // SDL also takes a file that starts at "WAVE", without its RIFF header.
    std::size_t pos;
    if (bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0) pos = 12;
    else if (bytes.size() >= 4 && std::memcmp(bytes.data(), "WAVE", 4) == 0) pos = 4;
    else return bytes;
    while (pos + 8 <= bytes.size()) {
        const std::size_t length = word(bytes.data() + pos + 4);
        const std::size_t available = bytes.size() - pos - 8;
        if (length > available) {
            fixed.assign(bytes.begin(), bytes.end());
            const auto cut = static_cast<std::uint32_t>(available);
            for (int i = 0; i < 4; ++i) fixed[pos + 4 + i] = static_cast<std::uint8_t>(cut >> (8 * i));
            return fixed;
        }
        pos += 8 + length + (length & 1);
    }
    return bytes;
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// The environment variables by which SDL's loader can be told to read files more or
// less strictly; with any of them set, SDL alone decides.
bool sdl_wave_hints_set() {
    static const bool set = std::getenv("SDL_WAVE_RIFF_CHUNK_SIZE") || std::getenv("SDL_WAVE_TRUNCATION") ||
                            std::getenv("SDL_WAVE_FACT_CHUNK") || std::getenv("SDL_WAVE_CHUNK_LIMIT");
    return set;
}

}  // namespace

std::optional<long long> plain_pcm_duration_ms(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kFmtAt = 12;
    if (bytes.size() < kFmtAt + 8 + 16 || sdl_wave_hints_set()) return std::nullopt;
    const std::uint8_t* b = bytes.data();
    if (std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0 ||
        std::memcmp(b + kFmtAt, "fmt ", 4) != 0)
        return std::nullopt;
    const std::uint64_t riff_length = le32(b + 4);
    const std::uint64_t fmt_length = le32(b + kFmtAt + 4);
    if (fmt_length < 16) return std::nullopt;
    const std::uint64_t data_at = kFmtAt + 8 + fmt_length + (fmt_length & 1);
    if (data_at + 8 > bytes.size() || std::memcmp(b + data_at, "data", 4) != 0) return std::nullopt;
    // SDL looks for the next chunk only while the RIFF length reaches beyond the last
    // one (a zero length counts as unknown).
    if (riff_length != 0 && 8 + riff_length <= data_at) return std::nullopt;
    const std::uint64_t data_length = le32(b + data_at + 4);
    if (data_length > bytes.size() - data_at - 8) return std::nullopt;

    const std::uint8_t* fmt = b + kFmtAt + 8;
    const unsigned tag = le16(fmt), channels = le16(fmt + 2), block_align = le16(fmt + 12), bits = le16(fmt + 14);
    const std::uint32_t rate = le32(fmt + 4);
    constexpr unsigned kPcm = 1, kFloat = 3;
    const bool pcm_bits = bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (!((tag == kPcm && pcm_bits) || (tag == kFloat && bits == 32))) return std::nullopt;
    if (channels == 0 || channels > 255 || rate == 0 || rate > static_cast<std::uint32_t>(INT_MAX)) return std::nullopt;
    if (block_align == 0 || block_align * 8u != channels * bits) return std::nullopt;
    const auto frames = static_cast<long long>(data_length / block_align);
    return (frames * 1000 + rate / 2) / rate;
}

std::optional<WavSound> decode_wav(std::span<const std::uint8_t> bytes, bool want_samples) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    if (!want_samples) {
        if (const auto ms = plain_pcm_duration_ms(bytes)) return WavSound{*ms, nullptr};
    }
    const SdlLibrary* sdl = sdl_library();
    if (!sdl) return std::nullopt;
    std::vector<std::uint8_t> fixed;
    bytes = clamp_chunks(bytes, fixed);
    SDL_RWops* rw = sdl->RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) return std::nullopt;
    SDL_AudioSpec spec{};
    Uint8* data = nullptr;
    Uint32 length = 0;
    if (!sdl->LoadWAV_RW(rw, 1, &spec, &data, &length)) return std::nullopt;
    std::optional<WavSound> result;
    const long long frame_bytes = static_cast<long long>(SDL_AUDIO_BITSIZE(spec.format) / 8) * spec.channels;
    if (frame_bytes > 0 && spec.freq > 0) {
        const long long frames = length / frame_bytes;
        WavSound sound;
        sound.duration_ms = (frames * 1000 + spec.freq / 2) / spec.freq;
        if (want_samples) sound.samples = convert(*sdl, spec, data, length);
        result = std::move(sound);
    }
    sdl->FreeWAV(data);
    return result;
}

}  // namespace handset
