// The registry store: the handset's registry in one SQLite file, `registry.db` of the
// device folder.
//
// Several processes use one file at once (the running program, a second instance,
// `quillon reg`), so the file runs in WAL mode with a busy timeout and every write is
// one IMMEDIATE transaction: a write that returned Ok is in the file and survives the
// writing process being killed. Within a process the store is shared by threads and
// serialises them on one mutex.
//
// Point reads (finding a key, reading a value) are answered from a cache of the store
// and the calling thread while no transaction has been committed to the file by any
// process since the cached answer was read; see read_cache.h. A read answered so takes
// no lock.
//
// Keys form a tree below the roots HKCU and HKLM. Each key row keeps its name as
// created and, for lookups, the folded form of its whole path, so opening a key of any
// depth is one indexed query. Values keep their name as created, their type and their
// bytes. Writes are announced in the event log ("reg.set", "reg.delete") after they
// are committed, unless the caller asks for a quiet write.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handset/core/checked_mutex.h"
#include "platform/handset/registry/paths.h"
#include "platform/wintypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace handset {

// The store's parts, each in its own file: the SQL (sql.h), the read cache
// (read_cache.h) and the events of writes (write_events.h).
class SqlConnection;
class ReadCache;
struct ValueAnswer;
struct RegEvent;
enum class Sql : int;

// What a store operation came to. The platform API maps these to its error codes in
// one place (api.cpp); tools describe them with describe().
enum class RegStatus {
    Ok,
    NotFound,     // no such key or value
    KeyDeleted,   // the key an id names has been deleted (perhaps by another process)
    NoMoreItems,  // enumeration index past the end
    Denied,       // the operation is not allowed on this key (deleting a root)
    Invalid,      // a name or path that the registry cannot hold
    Busy,         // another process held the file past the busy timeout
    IoError,      // the file could not be read or written
    Full,         // the file could not grow: the device's storage is full
    Corrupt,      // the file is damaged or not a registry
};

const char* describe(RegStatus status);

using KeyId = std::int64_t;

// The key id of a root: the roots are the first rows of the key table.
constexpr KeyId root_key_id(RegRoot root) { return static_cast<KeyId>(root); }

struct RegValue {
    std::u16string name;
    DWORD type = REG_NONE;
    Bytes data;
};

// A key with its values and subkeys, as read in one snapshot.
struct RegTree {
    std::u16string path;  // below the root, names as created
    std::vector<RegValue> values;
    std::vector<RegTree> subkeys;  // in name order
};

// One step of a batch (see RegistryStore::apply).
struct RegOp {
    enum class Kind { CreateKey, SetValue, DeleteValue, DeleteKey };
    Kind kind = Kind::CreateKey;
    RegKeyPath key;
    std::u16string name;  // value name; empty is the default value
    DWORD type = REG_NONE;
    Bytes data;
    // For deletions: a missing key or value fails the batch with NotFound instead of
    // being skipped.
    bool must_exist = false;

    static RegOp create_key(RegKeyPath key);
    static RegOp set_value(RegKeyPath key, std::u16string name, DWORD type, Bytes data);
    static RegOp delete_value(RegKeyPath key, std::u16string name, bool must_exist = false);
    static RegOp delete_key(RegKeyPath key, bool must_exist = false);
};

// Whether a write is announced in the event log. Factory set-up writes quietly: it is
// not an act of the handset.
enum class Notify { Events, Quiet };

// Thrown by the constructor when the file cannot be opened as a registry.
class RegistryOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class RegistryStore {
public:
    // How long an operation waits for another process's write before giving up with
    // Busy.
    static constexpr int kDefaultBusyTimeoutMs = 5000;

    // Opens or creates the registry file. Throws RegistryOpenError naming the file and
    // the reason.
    explicit RegistryStore(const std::string& db_file, int busy_timeout_ms = kDefaultBusyTimeoutMs);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    const std::string& file() const { return file_; }
    // Distinguishes stores within the process, so that a handle of a store that has
    // been replaced is recognised as stale.
    std::uint64_t serial() const { return serial_; }

    // Looks a key up; `stored_path` receives its path with names as created.
    RegStatus find_key(const RegKeyPath& key, KeyId& id, std::u16string* stored_path = nullptr);
    RegStatus find_key(RegRoot root, std::u16string_view path, KeyId& id, std::u16string* stored_path = nullptr);
    // Opens a key, creating it and any missing parents; `created` tells which.
    RegStatus create_key(const RegKeyPath& key, KeyId& id, bool& created, std::u16string* stored_path = nullptr);
    // Deletes a key with its whole subtree and their values. Roots cannot be deleted.
    RegStatus delete_key(const RegKeyPath& key, Notify notify = Notify::Events);

    // Reads a value into `buf` when it fits in `capacity` bytes; `size` always receives
    // its length and `type` its type. Ok does not mean it was copied: compare size
    // with capacity. A missing value of a live key is NotFound.
    RegStatus query_value(KeyId key, std::u16string_view name, DWORD& type, std::uint8_t* buf,
                          std::size_t capacity, std::size_t& size);
    // The value with its name as created.
    RegStatus get_value(KeyId key, std::u16string_view name, RegValue& out);
    RegStatus set_value(KeyId key, std::u16string_view name, DWORD type, std::span<const std::uint8_t> data,
                        Notify notify = Notify::Events);
    RegStatus delete_value(KeyId key, std::u16string_view name, Notify notify = Notify::Events);

    // Subkeys in name order, values in the order they were created.
    RegStatus enum_subkey(KeyId key, std::uint32_t index, std::u16string& name);
    RegStatus enum_value(KeyId key, std::uint32_t index, RegValue& out);

    // Runs `ops` in order as one transaction: all of them take effect or none. Setting
    // a value creates its key. Events are emitted after the commit. On failure
    // `failed_op` (when given) receives the index of the step that failed.
    RegStatus apply(std::span<const RegOp> ops, Notify notify = Notify::Events, std::size_t* failed_op = nullptr);
    // Path-based conveniences over apply() for tools and scripts.
    RegStatus set_value(const RegKeyPath& key, std::u16string_view name, DWORD type,
                        std::span<const std::uint8_t> data, Notify notify = Notify::Events);
    RegStatus get_value(const RegKeyPath& key, std::u16string_view name, RegValue& out);
    // Several values of one key in one snapshot: out[i] is the value named names[i], or
    // nothing when the key has no such value. NotFound when the key does not exist.
    RegStatus get_values(const RegKeyPath& key, std::span<const std::u16string_view> names,
                         std::vector<std::optional<RegValue>>& out);

    // The key's subtree in one consistent snapshot.
    RegStatus read_tree(const RegKeyPath& key, RegTree& out);

    // Runs SQLite's integrity check; true when it reports "ok", otherwise `report`
    // holds what it found.
    bool check_integrity(std::string& report);
    // SQLite's message for the last failed operation on this store, for tools.
    std::string last_error() const;

private:
    template <class F>
    RegStatus guarded(F&& body);
    template <class Read>
    RegStatus enum_row(KeyId key, std::uint32_t index, Sql which_stmt, Read&& read);
    template <class Change>
    RegStatus change_key(KeyId key, Notify notify, Change&& change);
    ReadCache& thread_cache();
    const ValueAnswer& read_value(KeyId key, std::u16string_view name, ValueAnswer& scratch);
    bool lookup(RegRoot root, std::u16string_view folded_path, KeyId& id, std::u16string* stored_path);
    bool key_row(KeyId id, RegRoot& root, std::u16string& stored_path);
    KeyId make_key(const RegKeyPath& key, bool& created, std::u16string* stored_path);
    void write_value(KeyId key, const RegKeyPath& where, std::u16string_view name, DWORD type,
                     std::span<const std::uint8_t> data, std::vector<RegEvent>* events);
    bool remove_value(KeyId key, const RegKeyPath& where, std::u16string_view name, std::vector<RegEvent>* events);
    bool remove_key(const RegKeyPath& key, std::vector<RegEvent>* events);
    void read_subtree(KeyId id, std::u16string path, RegTree& out);

    std::string file_;
    std::uint64_t serial_;
    mutable CheckedMutex mu_;
    std::unique_ptr<SqlConnection> sql_;
    std::string last_error_;
};

// The process's current registry: the device's store, set once by the device start-up
// (and by tests). current_registry() is null until then.
std::shared_ptr<RegistryStore> current_registry();
// The current registry for a call on this thread, or null, without a reference of the
// caller's own: the thread keeps the store it was last given and lets it go at its first
// call after set_registry(), or when it ends. A replaced store thus closes once each
// thread that used it this way has called again or ended. Valid until the thread's next
// call of thread_registry().
RegistryStore* thread_registry();
// The current registry; throws std::logic_error when none is set.
RegistryStore& registry();
// Replaces the current registry (null closes it). Key handles of the platform API that
// were opened on the previous store become invalid.
void set_registry(std::unique_ptr<RegistryStore> store);

}  // namespace handset
