// The loudspeaker over SDL2 (loaded with the first switch-on, see sdl_library.h): one
// playback device, opened on demand, whose callback mixes the current sound and the key
// click.
//
// SDL and the host's sound libraries below it (ALSA, PulseAudio) like to write
// diagnostics to stderr, which would tear the terminal phone's screen. SDL's own log
// goes to a function that drops it; the sound libraries' stderr is sent to /dev/null
// for the moments the device is being opened and closed.
#include "platform/handset/devices/audio_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <string>

#include "platform/handset/core/checked_mutex.h"
#include "platform/handset/devices/sdl_library.h"

namespace handset::audio {
namespace {

void drop_log(void*, int, SDL_LogPriority, const char*) {}

// Whether the host can have a sound device at all: an ALSA or OSS device node, the
// socket of a PulseAudio or PipeWire server, or an audio driver chosen for SDL. Without
// any of them SDL would load its libraries only to find no device, and they would stay
// in the process for nothing.
bool host_may_play_sound() {
    for (const char* chosen : {"SDL_AUDIODRIVER", "AUDIODEV", "PULSE_SERVER", "PIPEWIRE_REMOTE"})
        if (std::getenv(chosen)) return true;
    std::error_code ec;
    auto present = [&ec](const std::filesystem::path& p) { return std::filesystem::exists(p, ec); };
    if (present("/dev/snd") || present("/dev/dsp") || present("/run/pulse/native")) return true;
    std::vector<std::filesystem::path> runtime_dirs{"/run/user/" + std::to_string(::getuid())};
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR")) runtime_dirs.emplace_back(dir);
    if (const char* dir = std::getenv("PULSE_RUNTIME_PATH")) runtime_dirs.emplace_back(dir);
    for (const auto& dir : runtime_dirs)
        if (present(dir / "pulse" / "native") || present(dir / "native") || present(dir / "pipewire-0")) return true;
    return false;
}

// Sends stderr to /dev/null for its lifetime.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

struct Voice {
    Samples samples;
    bool loop = false;  // starts again from the first sample at its end
    std::size_t position = 0;

    std::int32_t next() {
        if (!samples || samples->empty()) return 0;
        if (position >= samples->size()) {
            if (!loop) return 0;
            position = 0;
        }
        return (*samples)[position++];
    }
};

class Output {
public:
    void set_enabled(bool enabled) {
        std::lock_guard lock(mu_);
        if (enabled && !device_) open();
        if (!enabled && device_) close();
    }

    bool active() {
        std::lock_guard lock(mu_);
        return device_ != 0;
    }

    void play(Samples samples, bool loop) {
        std::lock_guard lock(mu_);
        if (!device_) return;
        sdl_->LockAudioDevice(device_);
        sound_ = Voice{std::move(samples), loop};
        sdl_->UnlockAudioDevice(device_);
    }

    void click() {
        std::lock_guard lock(mu_);
        if (!device_) return;
        static const Samples click_samples = std::make_shared<const std::vector<std::int16_t>>(tone(2400, 12, 0.25));
        sdl_->LockAudioDevice(device_);
        click_ = Voice{click_samples};
        sdl_->UnlockAudioDevice(device_);
    }

private:
    // mu_ held.
    void open() {
        assert(mu_.held());
        if (!host_may_play_sound()) return;
        QuietStderr quiet;
        sdl_ = sdl_library();
        if (!sdl_) return;
        sdl_->LogSetOutputFunction(drop_log, nullptr);
        if (sdl_->InitSubSystem(SDL_INIT_AUDIO) != 0) return;
        SDL_AudioSpec want{};
        want.freq = kSampleRate;
        want.format = AUDIO_S16SYS;
        want.channels = 1;
        want.samples = 512;
        want.callback = &Output::fill;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts our format to whatever the device takes.
        device_ = sdl_->OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (!device_) {
            sdl_->QuitSubSystem(SDL_INIT_AUDIO);
            return;
        }
        sdl_->PauseAudioDevice(device_, 0);
    }

    void close() {
        assert(mu_.held());
        QuietStderr quiet;
        sdl_->CloseAudioDevice(device_);
        device_ = 0;
        sound_ = {};
        click_ = {};
        sdl_->QuitSubSystem(SDL_INIT_AUDIO);
    }

    // SDL's audio thread, under the device lock.
    static void fill(void* userdata, Uint8* stream, int length) {
        auto* self = static_cast<Output*>(userdata);
        auto* out = reinterpret_cast<std::int16_t*>(stream);
        const int count = length / static_cast<int>(sizeof(std::int16_t));
        for (int i = 0; i < count; ++i) {
            const std::int32_t mixed = self->sound_.next() + self->click_.next();
            out[i] = static_cast<std::int16_t>(std::clamp<std::int32_t>(mixed, INT16_MIN, INT16_MAX));
        }
    }

    CheckedMutex mu_;
    const SdlLibrary* sdl_ = nullptr;  // loaded by the first open()
    SDL_AudioDeviceID device_ = 0;
    // Under SDL's device lock.
    Voice sound_;
    Voice click_;
};

// Never destroyed: SDL's audio thread may run until the process ends.
Output& output() {
    static Output* o = new Output;
    return *o;
}

}  // namespace

void set_enabled(bool enabled) { output().set_enabled(enabled); }
bool active() { return output().active(); }
void play(Samples samples, bool loop) { output().play(std::move(samples), loop); }
void stop() { output().play(nullptr, false); }
void click() { output().click(); }

std::vector<std::int16_t> tone(int hz, int ms, double amplitude) {
    const int count = kSampleRate * ms / 1000;
    const int fade_from = count - count / 4;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        double level = amplitude;
        if (i >= fade_from) level *= static_cast<double>(count - i) / (count - fade_from);
        const double phase = 2.0 * std::numbers::pi * hz * i / kSampleRate;
        samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::lround(std::sin(phase) * level * 32767.0));
    }
    return samples;
}

}  // namespace handset::audio
