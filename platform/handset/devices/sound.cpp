// Sound playback of the platform API: sndPlaySound over the device's WAV files.
//
// A sound's length is its real playing time, and a synchronous call waits exactly
// that long on the handset clock, or less when another sound stops it first. The
// loudspeaker (audio_output) only follows; the clock never waits for it. A file
// that cannot be read as a WAV plays the platform's default sound instead.
//
// sndPlaySound takes every name as a file name of the device (the phone has no sound
// aliases), or with SND_MEMORY as a WAV image in memory, whose RIFF header gives its
// length. SND_LOOP repeats the sound until the next one or a stop, and is refused
// without SND_ASYNC, since the call would never return. SND_NOSTOP leaves a playing
// sound alone and fails instead. Other flags are refused with FALSE.
#include <cassert>
#include <ctime>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/host_io.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/devices/services.h"
#include "platform/handset/devices/sound_files.h"
#include "platform/handset/devices/wav.h"
#include "platform/mmsystem.h"

namespace handset {
namespace {

constexpr UINT kKnownFlags = SND_ASYNC | SND_NODEFAULT | SND_MEMORY | SND_LOOP | SND_NOSTOP | SND_FILENAME;
constexpr long long kForever = std::numeric_limits<long long>::max();

// One playing of a sound; signalled once something has stopped it.
class Playback : public KernelObject {
public:
    bool waitable() const override { return true; }
    bool signalled() const override { return stopped_; }
    void stop() {  // kernel lock held
        assert(kernel_lock().held());
        stopped_ = true;
    }

private:
    bool stopped_ = false;
};

// The platform's default sound: two short tones.
const WavSound& default_sound() {
    static const WavSound sound = [] {
        auto samples = audio::tone(988, 120, 0.4);
        const auto second = audio::tone(1319, 130, 0.4);
        samples.insert(samples.end(), second.begin(), second.end());
        WavSound s;
        s.duration_ms = static_cast<long long>(samples.size()) * 1000 / audio::kSampleRate;
        s.samples = std::make_shared<const std::vector<std::int16_t>>(std::move(samples));
        return s;
    }();
    return sound;
}

SoundFileCache& sound_files() {
    static SoundFileCache cache;
    return cache;
}

std::optional<WavSound> load(std::u16string_view path) {
    if (!has_device()) return std::nullopt;
    const UniqueFd fd = device().open_for_reading(path);
    if (!fd) return std::nullopt;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return sound_files().load(fd.get(), audio::active(), now);
}

// A WAV image in memory: its length is the RIFF chunk's size and the 8 bytes before it.
std::optional<WavSound> load_memory(const void* image) {
    const auto* bytes = static_cast<const std::uint8_t*>(image);
    if (std::memcmp(bytes, "RIFF", 4) != 0) return std::nullopt;
    const std::uint32_t chunk = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
    if (chunk > (1u << 30)) return std::nullopt;
    return decode_wav({bytes, std::size_t{chunk} + 8}, audio::active());
}

class SoundService {
public:
    BOOL play(LPCWSTR path, UINT flags) {
        if (flags & ~kKnownFlags) return FALSE;
        const bool sync = !(flags & SND_ASYNC);
        const bool loop = flags & SND_LOOP;
        if (loop && sync) return FALSE;
        if (!path) {
            stop();
            return TRUE;
        }
        if ((flags & SND_NOSTOP) && playing()) return FALSE;
        const bool in_memory = flags & SND_MEMORY;
        const std::u16string file = in_memory ? std::u16string(u"<memory>") : std::u16string(path);
        auto sound = in_memory ? load_memory(path) : load(file);
        const bool missing = !sound;
        if (missing) {
            if (flags & SND_NODEFAULT) return FALSE;
            sound = default_sound();
        }
        auto playback = std::make_shared<Playback>();
        long long end = 0;
        {
            std::lock_guard lock(mu_);
            // A sound that began while the lock was free is stopped like any other:
            // SND_NOSTOP only promises not to cut one that was playing at the call.
            stop_locked();
            current_ = playback;
            file_ = file;
            end_ = end = loop ? kForever : clock().now_ms() + sound->duration_ms;
            audio::play(sound->samples, loop);
        }
        // Outside the lock: an event sink may ask what is playing.
        events().emit("sound", {{"file", to_utf8(file)},
                                {"mode", loop ? "loop" : sync ? "sync" : "async"},
                                {"ms", sound->duration_ms},
                                {"missing", missing}});
        if (sync) {
            std::unique_lock lock(kernel_lock());
            Waitable* const waitables[] = {playback.get()};
            clock().wait(lock, waitables, false, end);
        }
        return TRUE;
    }

    void stop() {
        std::lock_guard lock(mu_);
        stop_locked();
    }

    std::optional<std::u16string> playing() {
        std::lock_guard lock(mu_);
        if (!current_ || clock().now_ms() >= end_) return std::nullopt;
        std::lock_guard klock(kernel_lock());
        if (current_->signalled()) return std::nullopt;
        return file_;
    }

private:
    void stop_locked() {
        if (!current_) return;
        {
            std::lock_guard klock(kernel_lock());
            current_->stop();
            clock().wake_waiters();
        }
        current_.reset();
        audio::stop();
    }

    std::mutex mu_;  // taken before the kernel lock
    std::shared_ptr<Playback> current_;
    std::u16string file_;
    long long end_ = 0;
};

SoundService& sounds() {
    static SoundService s;
    return s;
}

}  // namespace

std::optional<std::u16string> sound_playing() { return sounds().playing(); }
void set_audio_output(bool enabled) { audio::set_enabled(enabled); }
void sound_stop() { sounds().stop(); }

}  // namespace handset

BOOL sndPlaySound(LPCWSTR path, UINT flags) { return handset::sounds().play(path, flags); }
