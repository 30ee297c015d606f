// The registry functions of the platform API (winreg.h) over the current registry
// store.
//
// Each function checks its arguments, resolves the handle, delegates to the store
// and maps the store's status to the platform's error code in to_win32(), the one
// place where that mapping lives. An opened key is a handle of this process's key
// table, remembering the key, its path and the access it was opened with; the root
// constants are always open, with full access, and closing them does nothing.
//
// Access: the platform's CE variant ignores the access mask and passes 0; so 0 (and
// MAXIMUM_ALLOWED) open with full access here, while a mask that names rights, such as
// KEY_READ, is held to them: a KEY_READ handle refuses writes with ERROR_ACCESS_DENIED.
//
// RegDeleteKeyW deletes the named key with its whole subtree, as the CE registry
// does. An empty sub-key name deletes the key of the handle itself (not a root).
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/handset/core/faults.h"
#include "platform/handset/registry/store.h"
#include "platform/winreg.h"

namespace handset {
namespace {

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericAll = 0x10000000;

struct KeyHandle {
    std::uint64_t store_serial = 0;
    KeyId id = 0;
    RegKeyPath path;  // names as stored
    REGSAM access = 0;
};

// Where a call's key stands: the store, the key and what the caller may do with it.
struct Resolved {
    RegistryStore* store = nullptr;
    KeyId id = 0;
    RegKeyPath path;
    REGSAM access = 0;
};

class HandleTable;
HandleTable& handles();

class HandleTable {
    // A handle's key and whether the handle is open. A closed handle stays in the table,
    // parked by the thread that closed it, so that the thread's next open of the same
    // key (programs open, read and close a key every tick) opens it again without the
    // lock. `h` does not change while the slot is in the table.
    struct Slot {
        KeyHandle h;
        std::atomic<bool> open{true};
    };
    using Table = std::unordered_map<std::uintptr_t, Slot>;

public:
    using Entry = Table::node_type;

    // An entry to fill and add(): one a handle closed on this thread left, so that a
    // program opening and closing a key every tick allocates nothing, or a new one.
    Entry spare() {
        std::vector<Entry>& spares = thread_spares();
        if (!spares.empty()) {
            Entry e = std::move(spares.back());
            spares.pop_back();
            return e;
        }
        Table one;
        one.try_emplace(0);
        return one.extract(one.begin());
    }
    static KeyHandle& handle_of(Entry& entry) { return entry.mapped().h; }
    // Keeps an entry that was not added for the next spare() of this thread.
    void give_back(Entry entry) {
        std::vector<Entry>& spares = thread_spares();
        if (spares.size() < kSpares) spares.push_back(std::move(entry));
    }
    HKEY add(Entry entry) {
        Recent& recent = thread_recent();
        const KeyHandle& h = entry.mapped().h;
        if (std::uintptr_t key = thread_parked().reopen(h)) {
            note(recent, key, h);
            give_back(std::move(entry));
            return reinterpret_cast<HKEY>(key);
        }
        std::lock_guard lock(mu_);
        // Small even numbers, far below the root constants (0x80000000 and up).
        next_ += 4;
        if (next_ >= 0x7FFFFFF0u) next_ = 0x1000;
        while (table_.count(next_)) next_ += 4;
        entry.key() = next_;
        entry.mapped().open.store(true, std::memory_order_relaxed);
        note(recent, next_, entry.mapped().h);
        table_.insert(std::move(entry));
        return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(next_));
    }
    HKEY add(KeyHandle h) {
        Entry entry = spare();
        entry.mapped().h = std::move(h);
        return add(std::move(entry));
    }
    // The handle's key; its path only when `with_path` (most calls need just the id).
    bool get(HKEY key, KeyHandle& out, bool with_path) {
        const Recent& recent = thread_recent();
        if (!with_path && recent.key == reinterpret_cast<std::uintptr_t>(key) &&
            recent.closes == closes_.load(std::memory_order_acquire)) {
            out.store_serial = recent.store_serial;
            out.id = recent.id;
            out.access = recent.access;
            out.path.root = recent.root;
            return true;
        }
        std::lock_guard lock(mu_);
        auto it = table_.find(reinterpret_cast<std::uintptr_t>(key));
        if (it == table_.end() || !it->second.open.load(std::memory_order_relaxed)) return false;
        const KeyHandle& h = it->second.h;
        out.store_serial = h.store_serial;
        out.id = h.id;
        out.access = h.access;
        out.path.root = h.path.root;
        if (with_path) out.path.path = h.path.path;
        return true;
    }
    // Closes the handle; false when it is not open.
    bool remove(HKEY key) {
        Parked& parked = thread_parked();
        std::lock_guard lock(mu_);
        auto it = table_.find(reinterpret_cast<std::uintptr_t>(key));
        if (it == table_.end() || !it->second.open.load(std::memory_order_relaxed)) return false;
        it->second.open.store(false, std::memory_order_relaxed);
        closes_.store(closes_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        if (std::uintptr_t evicted = parked.park(it->first, &it->second)) give_back(table_.extract(evicted));
        return true;
    }

private:
    static constexpr std::size_t kSpares = 16;

    // The handle this thread added last, as added, and the count of closes then. A slot
    // changes only by being closed, so while no handle at all has been closed since,
    // the handle is still open as it was added, and a call that needs no path reads it
    // here without the lock: programs open a key, read it and close it again on one
    // thread, and this spares the lock of the read.
    struct Recent {
        std::uintptr_t key = 0;
        std::uint64_t closes = 0;
        std::uint64_t store_serial = 0;
        KeyId id = 0;
        RegRoot root{};
        REGSAM access = 0;
    };
    static Recent& thread_recent() {
        thread_local Recent recent;
        return recent;
    }
    // Remembers `h`, just opened as `key`, as the thread's recent handle.
    void note(Recent& recent, std::uintptr_t key, const KeyHandle& h) {
        recent = {key, closes_.load(std::memory_order_acquire), h.store_serial, h.id, h.path.root, h.access};
    }

    // The handles this thread closed that are still in the table. Only this thread takes
    // them out of the table (under the lock), so it may read their keys without it;
    // reopening one only sets its flag, which readers under the lock check.
    class Parked {
    public:
        ~Parked() {
            HandleTable& table = handles();
            std::lock_guard lock(table.mu_);
            for (std::size_t i = 0; i < count_; ++i) table.table_.erase(slots_[i].key);
        }
        // Opens again a handle of the key `h` names, when this thread has one parked,
        // and gives its key; 0 otherwise.
        std::uintptr_t reopen(const KeyHandle& h) {
            for (std::size_t i = 0; i < count_; ++i) {
                Slot* slot = slots_[i].slot;
                const KeyHandle& p = slot->h;
                // The path too: a deleted key's id may be given to a new key.
                if (p.store_serial != h.store_serial || p.id != h.id || p.access != h.access ||
                    p.path.root != h.path.root || p.path.path.size() != h.path.path.size() ||
                    std::memcmp(p.path.path.data(), h.path.path.data(), h.path.path.size() * sizeof(char16_t)) != 0)
                    continue;
                slot->open.store(true, std::memory_order_relaxed);
                const std::uintptr_t key = slots_[i].key;
                slots_[i] = slots_[--count_];
                return key;
            }
            return 0;
        }
        // Parks a slot just closed; gives the key of the oldest parked one when there was
        // no room, which the caller takes out of the table. Table lock held.
        std::uintptr_t park(std::uintptr_t key, Slot* slot) {
            std::uintptr_t evicted = 0;
            if (count_ == kParked) {
                evicted = slots_[0].key;
                std::move(slots_.begin() + 1, slots_.end(), slots_.begin());
                --count_;
            }
            slots_[count_++] = {key, slot};
            return evicted;
        }

    private:
        static constexpr std::size_t kParked = 8;
        struct Held {
            std::uintptr_t key = 0;
            Slot* slot = nullptr;
        };
        std::array<Held, kParked> slots_{};
        std::size_t count_ = 0;
    };
    static Parked& thread_parked() {
        thread_local Parked parked;
        return parked;
    }

    // Spare entries are kept by thread, so that taking one needs no lock.
    static std::vector<Entry>& thread_spares() {
        thread_local std::vector<Entry> spares;
        return spares;
    }

    std::mutex mu_;
    Table table_;
    std::uintptr_t next_ = 0x1000;
    std::atomic<std::uint64_t> closes_{0};  // written under mu_
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

LONG to_win32(RegStatus status) {
    switch (status) {
        case RegStatus::Ok: return ERROR_SUCCESS;
        case RegStatus::NotFound: return ERROR_FILE_NOT_FOUND;
        case RegStatus::KeyDeleted: return ERROR_KEY_DELETED;
        case RegStatus::NoMoreItems: return ERROR_NO_MORE_ITEMS;
        case RegStatus::Denied: return ERROR_ACCESS_DENIED;
        case RegStatus::Invalid: return ERROR_INVALID_PARAMETER;
        case RegStatus::Busy: return ERROR_TIMEOUT;
        case RegStatus::IoError: return ERROR_REGISTRY_IO_FAILED;
        case RegStatus::Full: return ERROR_DISK_FULL;
        case RegStatus::Corrupt: return ERROR_BADDB;
    }
    return ERROR_INVALID_FUNCTION;
}

// The error an active fault point gives a change of the registry, or ERROR_SUCCESS. A full
// storage refuses a change as the store does when its file cannot grow.
LONG change_fault() {
    if (fault_active(Fault::RegistryWrite)) return ERROR_WRITE_FAULT;
    if (fault_active(Fault::StorageFull)) return to_win32(RegStatus::Full);
    return ERROR_SUCCESS;
}

REGSAM effective_access(REGSAM sam) {
    if (sam == 0 || (sam & (kMaximumAllowed | kGenericAll))) return KEY_ALL_ACCESS;
    REGSAM out = sam & KEY_ALL_ACCESS;
    if (sam & kGenericRead) out |= KEY_READ;
    if (sam & kGenericWrite) out |= KEY_WRITE;
    return out;
}

// Resolves a root constant or an open handle. Returns ERROR_SUCCESS or the error.
// `out.path` is filled only `with_path`: for calls that name a sub-key.
LONG resolve(HKEY key, Resolved& out, bool with_path = false) {
    out.store = thread_registry();
    if (!key) return ERROR_INVALID_HANDLE;
    RegRoot root;
    if (root_of_handle(key, root)) {
        if (!out.store) return ERROR_REGISTRY_IO_FAILED;
        out.id = root_key_id(root);
        out.path = {root, {}};
        out.access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    KeyHandle h;
    if (!handles().get(key, h, with_path)) return ERROR_INVALID_HANDLE;
    // A handle of a store that has since been replaced names nothing any more.
    if (!out.store || out.store->serial() != h.store_serial) return ERROR_INVALID_HANDLE;
    out.id = h.id;
    out.path = std::move(h.path);
    out.access = h.access;
    return ERROR_SUCCESS;
}

// A sub-key argument below `base`, or false when the name is malformed.
bool sub_key_path(const Resolved& base, LPCWSTR sub_key, RegKeyPath& out) {
    std::u16string rel;
    if (sub_key && !normalise_sub_key(sub_key, rel)) return false;
    out.root = base.path.root;
    out.path = base.path.path.empty() ? std::move(rel) : join_key_path(base.path.path, rel);
    return true;
}

std::u16string_view value_name(LPCWSTR name) { return name ? std::u16string_view(name) : std::u16string_view(); }

HKEY new_handle(const Resolved& base, KeyId id, std::u16string stored_path, REGSAM sam) {
    return handles().add({base.store->serial(), id, {base.path.root, std::move(stored_path)}, effective_access(sam)});
}

// Opens the key `sub_key` names below `base` into a new handle with the access `sam`
// asks for. Returns ERROR_SUCCESS or the error: ERROR_FILE_NOT_FOUND when there is no
// such key.
LONG open_below(const Resolved& base, LPCWSTR sub_key, REGSAM sam, HKEY& result) {
    // Below a root the argument is the path itself: nothing is copied to look it up, and
    // the store checks its names, only when it has not seen the same text before (the
    // store's check is the same as check_sub_key's once a last backslash is dropped).
    std::u16string_view path;
    std::u16string joined;
    if (base.path.path.empty()) {
        if (sub_key) path = sub_key;
        if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    } else {
        if (sub_key && !check_sub_key(sub_key, path)) return ERROR_INVALID_PARAMETER;
        path = joined = join_key_path(base.path.path, path);
    }
    // The handle's path is written straight into a spare entry of the table.
    HandleTable::Entry entry = handles().spare();
    KeyHandle& h = HandleTable::handle_of(entry);
    const RegStatus st = base.store->find_key(base.path.root, path, h.id, &h.path.path);
    if (st != RegStatus::Ok) {
        handles().give_back(std::move(entry));
        return to_win32(st);
    }
    h.store_serial = base.store->serial();
    h.path.root = base.path.root;
    h.access = effective_access(sam);
    result = handles().add(std::move(entry));
    return ERROR_SUCCESS;
}

// Copies `text` and its terminator into a buffer of `*len` characters; on success
// *len receives the length without the terminator.
LONG copy_name(const std::u16string& text, LPWSTR buf, LPDWORD len) {
    if (text.size() + 1 > *len) return ERROR_MORE_DATA;
    std::copy(text.begin(), text.end(), buf);
    buf[text.size()] = u'\0';
    *len = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

}  // namespace
}  // namespace handset

using namespace handset;

LONG RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Resolved base;
    if (LONG err = resolve(key, base, true)) return err;
    return open_below(base, sub_key, sam, *result);
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                     void* security, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Resolved base;
    if (LONG err = resolve(key, base, true)) return err;
    // Most creates find the key: open it as RegOpenKeyExW does.
    const LONG opened = open_below(base, sub_key, sam, *result);
    if (opened != ERROR_FILE_NOT_FOUND) {
        if (opened == ERROR_SUCCESS && disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return opened;
    }
    RegKeyPath path;
    if (!sub_key_path(base, sub_key, path)) return ERROR_INVALID_PARAMETER;
    if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    if (LONG err = change_fault()) return err;
    KeyId id = 0;
    std::u16string stored;
    bool created = false;
    const RegStatus st = base.store->create_key(path, id, created, &stored);
    if (st != RegStatus::Ok) return to_win32(st);
    *result = new_handle(base, id, std::move(stored), sam);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR value_name_arg, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_size) {
    if (reserved) return ERROR_INVALID_PARAMETER;
    if (data && !data_size) return ERROR_INVALID_PARAMETER;
    Resolved base;
    if (LONG err = resolve(key, base)) return err;
    if (!(base.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;

    DWORD value_type = REG_NONE;
    std::size_t size = 0;
    const std::size_t capacity = data ? *data_size : 0;
    const RegStatus st = base.store->query_value(base.id, value_name(value_name_arg), value_type, data, capacity, size);
    if (st != RegStatus::Ok) return to_win32(st);
    if (type) *type = value_type;
    if (data_size) *data_size = static_cast<DWORD>(size);
    return data && size > capacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR value_name_arg, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD data_size) {
    if (!data && data_size) return ERROR_INVALID_PARAMETER;
    Resolved base;
    if (LONG err = resolve(key, base)) return err;
    if (!(base.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (value_name(value_name_arg).size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    if (LONG err = change_fault()) return err;
    return to_win32(base.store->set_value(base.id, value_name(value_name_arg), type,
                                          std::span<const BYTE>(data, data ? data_size : 0)));
}

LONG RegDeleteValueW(HKEY key, LPCWSTR value_name_arg) {
    Resolved base;
    if (LONG err = resolve(key, base)) return err;
    if (!(base.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (LONG err = change_fault()) return err;
    return to_win32(base.store->delete_value(base.id, value_name(value_name_arg)));
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR sub_key) {
    Resolved base;
    if (LONG err = resolve(key, base, true)) return err;
    if (!(base.access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
    RegKeyPath path;
    if (!sub_key_path(base, sub_key, path)) return ERROR_INVALID_PARAMETER;
    if (path.path.empty()) return ERROR_ACCESS_DENIED;
    if (LONG err = change_fault()) return err;
    return to_win32(base.store->delete_key(path));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_len, LPDWORD reserved, LPWSTR cls,
                   LPDWORD cls_len, void* last_write) {
    if (!name || !name_len || reserved) return ERROR_INVALID_PARAMETER;
    Resolved base;
    if (LONG err = resolve(key, base)) return err;
    if (!(base.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::u16string sub;
    const RegStatus st = base.store->enum_subkey(base.id, index, sub);
    if (st != RegStatus::Ok) return to_win32(st);
    if (LONG err = copy_name(sub, name, name_len)) return err;
    // Keys carry no class; the time of the last write is not kept.
    if (cls && cls_len && *cls_len > 0) cls[0] = u'\0';
    if (cls_len) *cls_len = 0;
    return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_len, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD data_size) {
    if (!name || !name_len || reserved) return ERROR_INVALID_PARAMETER;
    if (data && !data_size) return ERROR_INVALID_PARAMETER;
    Resolved base;
    if (LONG err = resolve(key, base)) return err;
    if (!(base.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    RegValue value;
    const RegStatus st = base.store->enum_value(base.id, index, value);
    if (st != RegStatus::Ok) return to_win32(st);
    if (value.name.size() + 1 > *name_len) return ERROR_MORE_DATA;
    if (data && value.data.size() > *data_size) {
        *data_size = static_cast<DWORD>(value.data.size());
        if (type) *type = value.type;
        return ERROR_MORE_DATA;
    }
    copy_name(value.name, name, name_len);
    if (type) *type = value.type;
    if (data && !value.data.empty()) std::memcpy(data, value.data.data(), value.data.size());
    if (data_size) *data_size = static_cast<DWORD>(value.data.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (!key) return ERROR_INVALID_HANDLE;
    RegRoot root;
    if (root_of_handle(key, root)) return ERROR_SUCCESS;
    return handles().remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
