// The read cache's version check over the WAL index (see read_cache.h).
#include "platform/handset/registry/read_cache.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace handset {
namespace {

constexpr std::uint32_t kWalIndexVersion = 3007000;
constexpr std::size_t kMaxEntries = 4096;

}  // namespace

bool ReadCache::current() {
    if (!shm_ && !map()) return false;
    // Read eight bytes at a time (the region is page-aligned): the check runs at every
    // point read, several times a watch tick. An unchanged version is the everyday
    // answer: it is compared word by word as it is loaded, with nothing copied and no
    // call made.
    constexpr std::size_t kCopyWords = kVersionWords / 2;
    volatile std::uint64_t* const shm = reinterpret_cast<volatile std::uint64_t*>(shm_);
    // A commit writes the second copy first and the first copy last: while the first
    // copy is as it was, no commit has ended since, and the second needs no reading.
    if (valid_) {
        std::uint64_t changed = 0;
#pragma GCC unroll 6
        for (std::size_t i = 0; i < kCopyWords; ++i) changed |= __atomic_load_n(&shm[i], __ATOMIC_ACQUIRE) ^ version_[i];
        if (changed == 0) return true;
    }
    Version v;
    // The first copy is read with acquire loads, so that the second is read after it
    // (a fence would do the same, but ThreadSanitizer does not follow fences).
#pragma GCC unroll 6
    for (std::size_t i = 0; i < kCopyWords; ++i) v[i] = __atomic_load_n(&shm[i], __ATOMIC_ACQUIRE);
#pragma GCC unroll 6
    for (std::size_t i = kCopyWords; i < kVersionWords; ++i) v[i] = __atomic_load_n(&shm[i], __ATOMIC_RELAXED);
    const bool settled = std::equal(v.begin(), v.begin() + kCopyWords, v.begin() + kCopyWords);
    // The first four bytes are the WAL-index format version, byte 12 the "initialised" flag.
    std::uint32_t format = 0;
    std::memcpy(&format, v.data(), sizeof format);
    const bool initialised = reinterpret_cast<const std::uint8_t*>(v.data())[12] != 0;
    clear();
    valid_ = settled && format == kWalIndexVersion && initialised;
    if (valid_) version_ = v;
    return valid_;
}

bool ReadCache::map() {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || !f->pMethods ||
        f->pMethods->iVersion < 2 || !f->pMethods->xShmMap)
        return false;
    void volatile* region = nullptr;
    if (f->pMethods->xShmMap(f, 0, 32 * 1024, 0, &region) != SQLITE_OK || !region) return false;
    shm_ = static_cast<volatile std::uint32_t*>(region);
    return true;
}

void ReadCache::clear() {
    keys_.clear();
    values_.clear();
}

void ReadCache::make_room() {
    if (keys_.folded.size() + keys_.asked.size() + values_.folded.size() + values_.asked.size() >= kMaxEntries)
        clear();
}

}  // namespace handset
