// Mutexes. A named mutex is visible to every process of the device: each name has
// a lock file in run/mutex/, and every process holding a handle to it keeps a
// shared flock on that file. The name exists while anyone holds such a lock, and the
// host's OS releases the locks when it ends, however it ends, so a killed instance
// never leaves a name behind. Ownership is tracked within this host only; the
// handset's programs use ownership just for an immediate release.
#include <sys/file.h>

#include <cassert>
#include <map>
#include <utility>
#include <vector>

#include "platform/handset/core/device.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/host_io.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/winbase.h"

using namespace handset;

namespace {

class MutexObject : public KernelObject {
public:
    bool waitable() const override { return true; }
    bool signalled() const override { return owner_ == 0; }
    bool signalled_for(unsigned long long token) const override { return owner_ == 0 || owner_ == token; }
    bool acquire_for(unsigned long long token) override {
        owner_ = token;
        ++count_;
        return std::exchange(abandoned_, false);
    }
    // The owner ended without releasing: the next thread to take the mutex is told.
    // Kernel lock held.
    void abandon_if_owned_by(unsigned long long token) {
        if (owner_ != token) return;
        owner_ = 0;
        count_ = 0;
        abandoned_ = true;
    }
    // Kernel lock held.
    bool release() {
        assert(kernel_lock().held());
        if (owner_ != thread_token() || count_ == 0) return false;
        if (--count_ == 0) owner_ = 0;
        return true;
    }
    UniqueFd name_file_;  // its shared flock is this host's share of the name
    unsigned long long owner_ = 0;
    int count_ = 0;
    bool abandoned_ = false;
};

// Every mutex of this host, for the end of a thread that may own some. Kernel lock held.
std::vector<std::weak_ptr<MutexObject>>& live_mutexes() {
    static std::vector<std::weak_ptr<MutexObject>> all;
    return all;
}

std::mutex g_names_mu;
std::map<std::u16string, std::weak_ptr<MutexObject>> g_names;  // names this host has open

std::string file_name_for(std::u16string_view name) {
    static const char* hex = "0123456789abcdef";
    std::string out = "m-";
    for (char16_t c : name) {
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 0xF];
    }
    return out;
}

// Opens the name's lock file with a shared lock; `existed` tells whether another
// process already held it. Owns nothing when the file cannot be opened or locked.
UniqueFd open_shared_name(std::u16string_view name, bool& existed) {
    const auto dir = device().run_dir() / "mutex";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const UniqueFd guard = open_lock_file(dir / ".lock");
    if (!guard) return {};
    // The guard makes "test for other holders, then hold" one step for all processes.
    const FileLock one_at_a_time(guard.get(), LOCK_EX);
    UniqueFd fd = open_lock_file(dir / file_name_for(name));
    if (fd) {
        existed = flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
        if (flock(fd.get(), LOCK_SH) != 0) fd.reset();
    }
    return fd;
}

}  // namespace

HANDLE CreateMutexW(void*, BOOL initial_owner, LPCWSTR name) {
    if (fault_active(Fault::KernelMutex)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::shared_ptr<MutexObject> mutex;
    bool existed = false;
    if (name && *name) {
        if (!has_device()) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return nullptr;
        }
        const std::u16string key(name);
        if (key.size() > MAX_PATH) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        std::lock_guard lock(g_names_mu);
        auto it = g_names.find(key);
        if (it != g_names.end()) mutex = it->second.lock();
        if (mutex) {
            existed = true;
        } else {
            UniqueFd fd = open_shared_name(key, existed);
            if (!fd) {
                SetLastError(ERROR_ACCESS_DENIED);
                return nullptr;
            }
            mutex = std::make_shared<MutexObject>();
            mutex->name_file_ = std::move(fd);
            g_names[key] = mutex;
        }
    } else {
        mutex = std::make_shared<MutexObject>();
    }
    {
        std::lock_guard lock(kernel_lock());
        if (!existed) {
            auto& all = live_mutexes();
            std::erase_if(all, [](const std::weak_ptr<MutexObject>& m) { return m.expired(); });
            all.push_back(mutex);
        }
        if (initial_owner && !existed) mutex->acquire_for(thread_token());
    }
    HANDLE handle = make_handle(mutex);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

void handset::abandon_mutexes_of(unsigned long long token) {
    assert(kernel_lock().held());
    for (const auto& weak : live_mutexes())
        if (auto mutex = weak.lock()) mutex->abandon_if_owned_by(token);
}

BOOL ReleaseMutex(HANDLE handle) {
    auto mutex = object_as<MutexObject>(handle);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    if (!mutex->release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    handset::clock().wake_waiters();
    return TRUE;
}
