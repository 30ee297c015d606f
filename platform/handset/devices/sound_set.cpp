// The sound set's WAV files, included byte for byte by the assembler. The files lie
// back to back between two labels; each WAV's RIFF header gives its length, so the
// table below only names them in the same order.
//
// The assembler finds res/sound through the project's include path (the compiler
// passes -I on to it); a build may define QUILLON_SOUND_DIR as an absolute folder.
#include "platform/handset/devices/sound_set.h"

#include <cstring>
#include <stdexcept>
#include <string>

#ifndef QUILLON_SOUND_DIR
#define QUILLON_SOUND_DIR "res/sound"
#endif

__asm__(".pushsection .rodata.quillon_sound_set, \"a\", @progbits\n"
        ".global quillon_sound_set_begin\n.hidden quillon_sound_set_begin\n"
        ".global quillon_sound_set_end\n.hidden quillon_sound_set_end\n"
        "quillon_sound_set_begin:\n"
        ".incbin \"" QUILLON_SOUND_DIR "/missedCall.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/unreadSms.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/missedCallSms.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert1.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert2.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert3.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert4.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert5.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert6.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert7.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert8.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert9.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alert10.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/alertOver.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/enable3Gsvc.wav\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/disable3Gsvc.wav\"\n"
        "quillon_sound_set_end:\n"
        ".popsection\n");

extern "C" const std::uint8_t quillon_sound_set_begin[];
extern "C" const std::uint8_t quillon_sound_set_end[];

namespace handset {
namespace {

constexpr std::string_view kNames[] = {
    "missedCall.wav", "unreadSms.wav", "missedCallSms.wav", "alert1.wav",      "alert2.wav",
    "alert3.wav",     "alert4.wav",    "alert5.wav",        "alert6.wav",      "alert7.wav",
    "alert8.wav",     "alert9.wav",    "alert10.wav",       "alertOver.wav",   "enable3Gsvc.wav",
    "disable3Gsvc.wav",
};

std::vector<SoundFile> split() {
    std::vector<SoundFile> files;
    const std::span<const std::uint8_t> all(quillon_sound_set_begin, quillon_sound_set_end);
    std::size_t offset = 0;
    for (const auto name : kNames) {
        const auto rest = all.subspan(offset);
        if (rest.size() < 12 || std::memcmp(rest.data(), "RIFF", 4) != 0 || std::memcmp(rest.data() + 8, "WAVE", 4) != 0)
            throw std::logic_error("built-in sound " + std::string(name) + " is not a WAV file");
        const std::size_t size = 8 + (static_cast<std::size_t>(rest[4]) | static_cast<std::size_t>(rest[5]) << 8 |
                                      static_cast<std::size_t>(rest[6]) << 16 | static_cast<std::size_t>(rest[7]) << 24);
        if (size > rest.size()) throw std::logic_error("built-in sound " + std::string(name) + " is cut short");
        files.push_back({name, rest.first(size)});
        offset += size;
    }
    if (offset != all.size()) throw std::logic_error("built-in sound set holds more than its table names");
    return files;
}

}  // namespace

const std::vector<SoundFile>& sound_set() {
    static const std::vector<SoundFile> files = split();
    return files;
}

}  // namespace handset
