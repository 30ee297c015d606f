// The sounds of the device's files, read once while a file stays as it was.
//
// A reminder plays the same few files every few seconds of handset time, and each play
// opens its file by its device path (Device::open_for_reading keeps every check of that
// path). What the file holds is then taken from the cache when the file is the one read
// before: the same inode of the same file system, the same size and the same times of
// its last change. A change writes those times from the file system's clock, which moves
// in ticks, so a second change in the tick of the first would leave them as they were: a
// file is kept only once its last change lies further back than a tick could blur. Times
// with no fraction of a second (a file system that keeps whole seconds, or FAT's two)
// count as 3 s of blur, finer ones as 100 ms, many kernel clock ticks.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>

#include "platform/handset/devices/wav.h"

namespace handset {

// Whether a file whose status is `st` changed long enough before `now` (the host's real
// time) for a later change to show in its times.
bool settled_file(const struct stat& st, const timespec& now);

class SoundFileCache {
public:
    // The sound of the file open on `fd`, at its start (as decode_wav gives it), read
    // afresh unless the cache holds it; `now` is the host's real time.
    std::optional<WavSound> load(int fd, bool want_samples, const timespec& now);
    // How many files load() has read: the cache's misses.
    std::uint64_t files_read() const;

private:
    struct Entry {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool samples = false;
        std::optional<WavSound> sound;
    };
    static bool same_file(const Entry& e, const struct stat& st, bool want_samples);

    mutable std::mutex mu_;
    std::array<std::optional<Entry>, 8> entries_;
    std::size_t next_ = 0;  // the entry a new file takes when none holds it
    std::uint64_t files_read_ = 0;
};

}  // namespace handset
