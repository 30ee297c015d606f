// The cache of the device's sound files (see sound_files.h).
#include "platform/handset/devices/sound_files.h"

#include "platform/handset/core/host_io.h"

namespace handset {
namespace {

constexpr long long kNsPerSecond = 1'000'000'000;
constexpr long long kWholeSecondBlurNs = 3 * kNsPerSecond;
constexpr long long kFineBlurNs = 100'000'000;

long long ns_of(const timespec& t) { return static_cast<long long>(t.tv_sec) * kNsPerSecond + t.tv_nsec; }

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

bool settled_file(const struct stat& st, const timespec& now) {
    const bool whole_seconds = st.st_mtim.tv_nsec == 0 || st.st_ctim.tv_nsec == 0;
    const long long blur = whole_seconds ? kWholeSecondBlurNs : kFineBlurNs;
    // A change stamped after `now` (the host's clock set back) is never settled.
    return ns_of(now) - ns_of(st.st_ctim) > blur && ns_of(now) - ns_of(st.st_mtim) > blur;
}

bool SoundFileCache::same_file(const Entry& e, const struct stat& st, bool want_samples) {
    return e.device == st.st_dev && e.inode == st.st_ino && e.size == st.st_size && same_time(e.modified, st.st_mtim) &&
           same_time(e.changed, st.st_ctim) && e.samples == want_samples;
}

std::optional<WavSound> SoundFileCache::load(int fd, bool want_samples, const timespec& now) {
    struct stat st {};
    const bool regular = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) {
        std::lock_guard lock(mu_);
        for (const auto& e : entries_)
            if (e && same_file(*e, st, want_samples)) return e->sound;
    }
    FileBytes file;
    std::optional<WavSound> sound;
    if (file.read(fd)) sound = decode_wav(file.bytes(), want_samples);
    std::lock_guard lock(mu_);
    ++files_read_;
    // The status taken before the read names what was read only while nothing changed
    // the file around the read; a file changed since stays out until it has settled.
    if (!regular || !settled_file(st, now)) return sound;
    std::optional<Entry>* slot = &entries_[next_];
    for (auto& e : entries_)
        if (e && e->device == st.st_dev && e->inode == st.st_ino && e->samples == want_samples) slot = &e;
    if (slot == &entries_[next_]) next_ = (next_ + 1) % entries_.size();
    *slot = Entry{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, want_samples, sound};
    return sound;
}

std::uint64_t SoundFileCache::files_read() const {
    std::lock_guard lock(mu_);
    return files_read_;
}

}  // namespace handset
