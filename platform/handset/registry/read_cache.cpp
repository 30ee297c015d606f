// The read cache's version check over the WAL index (see read_cache.h).
#include "platform/handset/registry/read_cache.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
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
    // answer and compares as bytes, with nothing copied.
    constexpr std::size_t kCopyWords = kHeaderWords / 2;
    volatile std::uint64_t* const shm = reinterpret_cast<volatile std::uint64_t*>(shm_);
    std::uint64_t words[2 * kCopyWords];
    for (std::size_t i = 0; i < kCopyWords; ++i) words[i] = __atomic_load_n(&shm[i], __ATOMIC_RELAXED);
    std::atomic_thread_fence(std::memory_order_acquire);
    for (std::size_t i = kCopyWords; i < 2 * kCopyWords; ++i) words[i] = __atomic_load_n(&shm[i], __ATOMIC_RELAXED);
    static_assert(sizeof version_ == sizeof words);
    if (valid_ && std::memcmp(words, version_.data(), sizeof words) == 0) return true;
    Version v;
    std::memcpy(v.data(), words, sizeof v);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(v.data());
    const bool settled = std::equal(v.begin(), v.begin() + kHeaderWords, v.begin() + kHeaderWords);
    // Word 0 is the WAL-index format version, byte 12 the "initialised" flag.
    if (!settled || v[0] != kWalIndexVersion || bytes[12] == 0) {
        valid_ = false;
        clear();
        return false;
    }
    clear();
    version_ = v;
    valid_ = true;
    return true;
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
    keys_.folded.clear();
    keys_.asked.clear();
    values_.folded.clear();
    values_.asked.clear();
}

void ReadCache::make_room() {
    if (keys_.folded.size() + keys_.asked.size() + values_.folded.size() + values_.asked.size() >= kMaxEntries)
        clear();
}

}  // namespace handset
