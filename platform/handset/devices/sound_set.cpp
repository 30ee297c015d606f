// The sound set's WAV files, included byte for byte by the assembler. Each file is
// written once, below: the assembler lays down its name (NUL-terminated) and then its
// bytes, back to back between two labels, and each WAV's RIFF header gives its length.
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
        ".macro quillon_sound name\n"
        ".asciz \"\\name\"\n"
        ".incbin \"" QUILLON_SOUND_DIR "/\\name\"\n"
        ".endm\n"
        "quillon_sound_set_begin:\n"
        "quillon_sound missedCall.wav\n"
        "quillon_sound unreadSms.wav\n"
        "quillon_sound missedCallSms.wav\n"
        "quillon_sound alert1.wav\n"
        "quillon_sound alert2.wav\n"
        "quillon_sound alert3.wav\n"
        "quillon_sound alert4.wav\n"
        "quillon_sound alert5.wav\n"
        "quillon_sound alert6.wav\n"
        "quillon_sound alert7.wav\n"
        "quillon_sound alert8.wav\n"
        "quillon_sound alert9.wav\n"
        "quillon_sound alert10.wav\n"
        "quillon_sound alertOver.wav\n"
        "quillon_sound enable3Gsvc.wav\n"
        "quillon_sound disable3Gsvc.wav\n"
        "quillon_sound_set_end:\n"
        ".purgem quillon_sound\n"
        ".popsection\n");

extern "C" const std::uint8_t quillon_sound_set_begin[];
extern "C" const std::uint8_t quillon_sound_set_end[];

namespace handset {
namespace {

std::vector<SoundFile> split() {
    std::vector<SoundFile> files;
    const std::span<const std::uint8_t> all(quillon_sound_set_begin, quillon_sound_set_end);
    std::size_t offset = 0;
    while (offset < all.size()) {
        const auto named = all.subspan(offset);
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(named.data(), 0, named.size()));
        if (end == nullptr) throw std::logic_error("built-in sound set ends inside a name");
        const std::string_view name(reinterpret_cast<const char*>(named.data()), end - named.data());
        offset += name.size() + 1;
        const auto rest = all.subspan(offset);
        if (rest.size() < 12 || std::memcmp(rest.data(), "RIFF", 4) != 0 || std::memcmp(rest.data() + 8, "WAVE", 4) != 0)
            throw std::logic_error("built-in sound " + std::string(name) + " is not a WAV file");
        const std::size_t size = 8 + (static_cast<std::size_t>(rest[4]) | static_cast<std::size_t>(rest[5]) << 8 |
                                      static_cast<std::size_t>(rest[6]) << 16 | static_cast<std::size_t>(rest[7]) << 24);
        if (size > rest.size()) throw std::logic_error("built-in sound " + std::string(name) + " is cut short");
        files.push_back({name, rest.first(size)});
        offset += size;
    }
    return files;
}

}  // namespace

const std::vector<SoundFile>& sound_set() {
    static const std::vector<SoundFile> files = split();
    return files;
}

}  // namespace handset
