// The registry store's operations (see store.h): keys, values and batches over the
// registry file's SQL (sql.h), with point reads through the read cache (read_cache.h)
// and writes announced by write_events.h.
//
// Inside the store, SQLite failures travel as SqlError and rule violations as
// OpFailure; guarded() turns both into a RegStatus at the public boundary, after
// rolling back whatever transaction was open. A key path or value name is checked
// once, by the public operation that received it; the helpers below take it as valid.
#include "platform/handset/registry/store.h"

#include <atomic>
#include <cassert>
#include <cstring>

#include "platform/handset/core/utf.h"
#include "platform/handset/registry/write_events.h"
#include "platform/handset/registry/read_cache.h"
#include "platform/handset/registry/sql.h"

namespace handset {
namespace {

struct OpFailure {
    RegStatus status;
};

std::atomic<std::uint64_t> g_next_serial{1};

// SQLite keeps names as UTF-8 text and reads back U+FFFD for what UTF-8 cannot carry
// (an unpaired surrogate) and for U+FFFE and U+FFFF, and a NUL would end the name at the
// platform API: a name holding one could be written but never found again.
bool storable_name(std::u16string_view name) {
    constexpr std::u16string_view kUnstorable(u"\0\uFFFE\uFFFF", 3);
    return well_formed_utf16(name) && name.find_first_of(kUnstorable) == std::u16string_view::npos;
}

void check_key_path(std::u16string_view path) {
    std::u16string normal;
    if (!normalise_sub_key(path, normal) || normal.size() != path.size() || !storable_name(path))
        throw OpFailure{RegStatus::Invalid};
}

void check_value_name(std::u16string_view name) {
    if (name.size() > kMaxValueNameLength || !storable_name(name)) throw OpFailure{RegStatus::Invalid};
}

}  // namespace

const char* describe(RegStatus status) {
    switch (status) {
        case RegStatus::Ok: return "ok";
        case RegStatus::NotFound: return "no such key or value";
        case RegStatus::KeyDeleted: return "the key has been deleted";
        case RegStatus::NoMoreItems: return "no more items";
        case RegStatus::Denied: return "not allowed on this key";
        case RegStatus::Invalid: return "invalid key or value name";
        case RegStatus::Busy: return "the registry file is busy (held by another process)";
        case RegStatus::IoError: return "the registry file could not be read or written";
        case RegStatus::Full: return "the device's storage is full";
        case RegStatus::Corrupt: return "the registry file is damaged";
    }
    return "unknown registry status";
}

RegOp RegOp::create_key(RegKeyPath key) {
    RegOp op;
    op.kind = Kind::CreateKey;
    op.key = std::move(key);
    return op;
}

RegOp RegOp::set_value(RegKeyPath key, std::u16string name, DWORD type, Bytes data) {
    RegOp op;
    op.kind = Kind::SetValue;
    op.key = std::move(key);
    op.name = std::move(name);
    op.type = type;
    op.data = std::move(data);
    return op;
}

RegOp RegOp::delete_value(RegKeyPath key, std::u16string name, bool must_exist) {
    RegOp op;
    op.kind = Kind::DeleteValue;
    op.key = std::move(key);
    op.name = std::move(name);
    op.must_exist = must_exist;
    return op;
}

RegOp RegOp::delete_key(RegKeyPath key, bool must_exist) {
    RegOp op;
    op.kind = Kind::DeleteKey;
    op.key = std::move(key);
    op.must_exist = must_exist;
    return op;
}

RegistryStore::RegistryStore(const std::string& db_file, int busy_timeout_ms)
    : file_(db_file), serial_(g_next_serial.fetch_add(1)) {
    try {
        sql_ = std::make_unique<SqlConnection>(db_file, busy_timeout_ms);
    } catch (const SqlError& e) {
        throw RegistryOpenError("cannot open registry " + db_file + ": " + e.message);
    }
}

RegistryStore::~RegistryStore() = default;

template <class F>
RegStatus RegistryStore::guarded(F&& body) {
    try {
        body();
        return RegStatus::Ok;
    } catch (const OpFailure& f) {
        return f.status;
    } catch (const SqlError& e) {
        last_error_ = e.message;
        return status_of_sqlite(e.rc);
    } catch (const std::bad_alloc&) {
        last_error_ = "out of memory";
        return RegStatus::IoError;
    }
}

bool RegistryStore::lookup(RegRoot root, std::u16string_view folded_path, KeyId& id, std::u16string* stored_path) {
    sqlite3_stmt* s = sql_->stmt(Sql::FindKey);
    sqlite3_bind_int(s, 1, static_cast<int>(root));
    bind_text(s, 2, folded_path);
    Step step(s);
    if (!step.next()) return false;
    id = sqlite3_column_int64(s, 0);
    if (stored_path) *stored_path = column_text(s, 1);
    return true;
}

bool RegistryStore::key_row(KeyId id, RegRoot& root, std::u16string& stored_path) {
    sqlite3_stmt* s = sql_->stmt(Sql::KeyById);
    sqlite3_bind_int64(s, 1, id);
    Step step(s);
    if (!step.next()) return false;
    root = static_cast<RegRoot>(sqlite3_column_int(s, 0));
    stored_path = column_text(s, 1);
    return true;
}

// Finds or creates the key and its missing parents; call inside a write transaction,
// with a checked path.
KeyId RegistryStore::make_key(const RegKeyPath& key, bool& created, std::u16string* stored_path) {
    const std::u16string folded = fold_name(key.path);
    KeyId id = 0;
    created = false;
    if (lookup(key.root, folded, id, stored_path)) return id;

    // Walk down from the root, creating from the first missing component on.
    KeyId parent = root_key_id(key.root);
    std::u16string parent_path;
    std::size_t pos = 0;
    while (pos <= key.path.size()) {
        std::size_t end = key.path.find(u'\\', pos);
        if (end == std::u16string::npos) end = key.path.size();
        const std::u16string_view name = std::u16string_view(key.path).substr(pos, end - pos);
        const std::u16string_view lpath = std::u16string_view(folded).substr(0, end);
        std::u16string path;
        if (!lookup(key.root, lpath, id, &path)) {
            path = join_key_path(parent_path, name);
            sqlite3_stmt* s = sql_->stmt(Sql::InsertKey);
            sqlite3_bind_int(s, 1, static_cast<int>(key.root));
            sqlite3_bind_int64(s, 2, parent);
            bind_text(s, 3, name);
            bind_text(s, 4, path);
            bind_text(s, 5, lpath);
            Step(s).run();
            id = sqlite3_last_insert_rowid(sql_->db());
            created = true;
        }
        parent = id;
        parent_path = std::move(path);
        pos = end + 1;
    }
    if (stored_path) *stored_path = parent_path;
    return id;
}

void RegistryStore::write_value(KeyId key, const RegKeyPath& where, std::u16string_view name, DWORD type,
                                std::span<const std::uint8_t> data, std::vector<RegEvent>* events) {
    check_value_name(name);
    const std::u16string lname = fold_name(name);
    sqlite3_stmt* s = sql_->stmt(Sql::UpsertValue);
    sqlite3_bind_int64(s, 1, key);
    bind_text(s, 2, lname);
    bind_text(s, 3, name);
    sqlite3_bind_int64(s, 4, type);
    bind_blob(s, 5, data);
    Step step(s);
    std::u16string stored_name(name);
    if (step.next()) stored_name = column_text(s, 0);
    step.run();
    if (events) events->push_back(value_set_event(where, stored_name, type, data));
}

bool RegistryStore::remove_value(KeyId key, const RegKeyPath& where, std::u16string_view name,
                                 std::vector<RegEvent>* events) {
    const std::u16string lname = fold_name(name);
    sqlite3_stmt* s = sql_->stmt(Sql::DeleteValue);
    sqlite3_bind_int64(s, 1, key);
    bind_text(s, 2, lname);
    Step step(s);
    if (!step.next()) return false;
    const std::u16string stored_name = column_text(s, 0);
    step.run();
    if (events) events->push_back(value_deleted_event(where, stored_name));
    return true;
}

// Deletes a key (not a root) with its subtree, given a checked path; false when there
// is no such key.
bool RegistryStore::remove_key(const RegKeyPath& key, std::vector<RegEvent>* events) {
    if (key.path.empty()) throw OpFailure{RegStatus::Denied};
    const std::u16string folded = fold_name(key.path);
    KeyId id = 0;
    std::u16string stored;
    if (!lookup(key.root, folded, id, &stored)) return false;
    for (Sql which : {Sql::DeleteSubtreeValues, Sql::DeleteSubtreeKeys}) {
        sqlite3_stmt* s = sql_->stmt(which);
        sqlite3_bind_int(s, 1, static_cast<int>(key.root));
        bind_text(s, 2, folded);
        Step(s).run();
    }
    if (events) events->push_back(key_deleted_event({key.root, stored}));
    return true;
}

RegStatus RegistryStore::find_key(const RegKeyPath& key, KeyId& id, std::u16string* stored_path) {
    return find_key(key.root, key.path, id, stored_path);
}

// The calling thread's read cache of this store. A thread keeps the cache of the store
// it used last; turning to another store starts a new one, which is only slower.
ReadCache& RegistryStore::thread_cache() {
    struct Held {
        std::uint64_t serial = 0;
        std::unique_ptr<ReadCache> cache;
    };
    thread_local Held held;
    if (held.serial != serial_ || !held.cache) {
        held.cache = std::make_unique<ReadCache>(sql_->db());
        held.serial = serial_;
    }
    return *held.cache;
}

RegStatus RegistryStore::find_key(RegRoot root, std::u16string_view path, KeyId& id, std::u16string* stored_path) {
    // A missing key is an everyday answer: it is returned, not thrown.
    const auto give = [&](const KeyAnswer& answer) {
        if (!answer.found) return RegStatus::NotFound;
        id = answer.id;
        if (stored_path) *stored_path = answer.stored_path;
        return RegStatus::Ok;
    };
    ReadCache& cache = thread_cache();
    if (const KeyAnswer* known = cache.found_key(root, path)) return give(*known);
    std::lock_guard lock(mu_);
    RegStatus answered = RegStatus::Ok;
    const RegStatus status = guarded([&] {
        KeyAnswer scratch;
        answered = give(cache.key(
            root, path, scratch,
            [](std::u16string_view asked) {
                check_key_path(asked);
                return fold_name(asked);
            },
            [&](std::u16string_view folded, KeyAnswer& out) {
                out.found = lookup(root, folded, out.id, &out.stored_path);
            }));
    });
    return status == RegStatus::Ok ? answered : status;
}

// Reads a value of a key by id, through the thread's read cache. Mutex held.
const ValueAnswer& RegistryStore::read_value(KeyId key, std::u16string_view name, ValueAnswer& scratch) {
    assert(mu_.held());
    return thread_cache().value(key, name, scratch, fold_name, [&](std::u16string_view lname, ValueAnswer& out) {
        out = {RegStatus::NotFound, REG_NONE, {}, {}};
        sqlite3_stmt* s = sql_->stmt(Sql::GetValue);
        sqlite3_bind_int64(s, 1, key);
        bind_text(s, 2, lname);
        {
            Step step(s);
            if (step.next()) {
                out.status = RegStatus::Ok;
                out.type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
                out.data = column_blob(s, 1);
                out.name = column_text(s, 2);
                return;
            }
        }
        RegRoot root;
        std::u16string path;
        if (!key_row(key, root, path)) out.status = RegStatus::KeyDeleted;
    });
}

RegStatus RegistryStore::create_key(const RegKeyPath& key, KeyId& id, bool& created, std::u16string* stored_path) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        check_key_path(key.path);
        // Most opens find the key: try that without taking the write lock of the file.
        created = false;
        if (lookup(key.root, fold_name(key.path), id, stored_path)) return;
        SqlTransaction txn(*sql_, true);
        id = make_key(key, created, stored_path);
        txn.commit();
    });
}

RegStatus RegistryStore::delete_key(const RegKeyPath& key, Notify notify) {
    const RegOp op = RegOp::delete_key(key, true);
    return apply(std::span<const RegOp>(&op, 1), notify);
}

RegStatus RegistryStore::query_value(KeyId key, std::u16string_view name, DWORD& type, std::uint8_t* buf,
                                     std::size_t capacity, std::size_t& size) {
    // A missing value is an everyday answer: it is returned, not thrown.
    const auto give = [&](const ValueAnswer& v) {
        if (v.status != RegStatus::Ok) return v.status;
        type = v.type;
        size = v.data.size();
        if (buf && size <= capacity && size > 0) std::memcpy(buf, v.data.data(), size);
        return RegStatus::Ok;
    };
    if (const ValueAnswer* known = thread_cache().found_value(key, name)) return give(*known);
    std::lock_guard lock(mu_);
    RegStatus answered = RegStatus::Ok;
    const RegStatus status = guarded([&] {
        ValueAnswer scratch;
        answered = give(read_value(key, name, scratch));
    });
    return status == RegStatus::Ok ? answered : status;
}

RegStatus RegistryStore::get_value(KeyId key, std::u16string_view name, RegValue& out) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        ValueAnswer scratch;
        const ValueAnswer& v = read_value(key, name, scratch);
        if (v.status != RegStatus::Ok) throw OpFailure{v.status};
        out.name = v.name;
        out.type = v.type;
        out.data = v.data;
    });
}

// Runs change(where, events) in a write transaction on an existing key, `where` being the
// key's stored path; the events it collects are announced once the change is committed.
template <class Change>
RegStatus RegistryStore::change_key(KeyId key, Notify notify, Change&& change) {
    std::vector<RegEvent> pending;
    RegStatus st;
    {
        std::lock_guard lock(mu_);
        st = guarded([&] {
            SqlTransaction txn(*sql_, true);
            RegKeyPath where;
            if (!key_row(key, where.root, where.path)) throw OpFailure{RegStatus::KeyDeleted};
            change(where, notify == Notify::Events ? &pending : nullptr);
            txn.commit();
        });
    }
    if (st == RegStatus::Ok) emit_committed(pending);
    return st;
}

RegStatus RegistryStore::set_value(KeyId key, std::u16string_view name, DWORD type, std::span<const std::uint8_t> data,
                                   Notify notify) {
    return change_key(key, notify, [&](const RegKeyPath& where, std::vector<RegEvent>* events) {
        write_value(key, where, name, type, data, events);
    });
}

RegStatus RegistryStore::delete_value(KeyId key, std::u16string_view name, Notify notify) {
    return change_key(key, notify, [&](const RegKeyPath& where, std::vector<RegEvent>* events) {
        if (!remove_value(key, where, name, events)) throw OpFailure{RegStatus::NotFound};
    });
}

// The index-th row of an enumeration statement (bound to key and index) handed to
// read(stmt); NoMoreItems past the last, KeyDeleted when the key is gone.
template <class Read>
RegStatus RegistryStore::enum_row(KeyId key, std::uint32_t index, Sql which_stmt, Read&& read) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        SqlTransaction txn(*sql_, false);
        RegRoot root;
        std::u16string path;
        if (!key_row(key, root, path)) throw OpFailure{RegStatus::KeyDeleted};
        sqlite3_stmt* s = sql_->stmt(which_stmt);
        sqlite3_bind_int64(s, 1, key);
        sqlite3_bind_int64(s, 2, index);
        Step step(s);
        if (!step.next()) throw OpFailure{RegStatus::NoMoreItems};
        read(s);
    });
}

RegStatus RegistryStore::enum_subkey(KeyId key, std::uint32_t index, std::u16string& name) {
    return enum_row(key, index, Sql::EnumSubkey, [&](sqlite3_stmt* s) { name = column_text(s, 0); });
}

RegStatus RegistryStore::enum_value(KeyId key, std::uint32_t index, RegValue& out) {
    return enum_row(key, index, Sql::EnumValue, [&](sqlite3_stmt* s) {
        out.name = column_text(s, 0);
        out.type = static_cast<DWORD>(sqlite3_column_int64(s, 1));
        out.data = column_blob(s, 2);
    });
}

RegStatus RegistryStore::apply(std::span<const RegOp> ops, Notify notify, std::size_t* failed_op) {
    std::vector<RegEvent> pending;
    std::vector<RegEvent>* events_out = notify == Notify::Events ? &pending : nullptr;
    std::size_t current = 0;
    RegStatus st;
    {
        std::lock_guard lock(mu_);
        st = guarded([&] {
            SqlTransaction txn(*sql_, true);
            for (current = 0; current < ops.size(); ++current) {
                const RegOp& op = ops[current];
                check_key_path(op.key.path);
                bool created = false;
                std::u16string stored;
                switch (op.kind) {
                    case RegOp::Kind::CreateKey:
                        make_key(op.key, created, nullptr);
                        break;
                    case RegOp::Kind::SetValue: {
                        const KeyId id = make_key(op.key, created, &stored);
                        write_value(id, {op.key.root, stored}, op.name, op.type, op.data, events_out);
                        break;
                    }
                    case RegOp::Kind::DeleteValue: {
                        KeyId id = 0;
                        const bool gone = !lookup(op.key.root, fold_name(op.key.path), id, &stored) ||
                                          !remove_value(id, {op.key.root, stored}, op.name, events_out);
                        if (gone && op.must_exist) throw OpFailure{RegStatus::NotFound};
                        break;
                    }
                    case RegOp::Kind::DeleteKey:
                        if (!remove_key(op.key, events_out) && op.must_exist) throw OpFailure{RegStatus::NotFound};
                        break;
                }
            }
            txn.commit();
        });
    }
    if (st == RegStatus::Ok) {
        emit_committed(pending);
    } else if (failed_op) {
        *failed_op = current;
    }
    return st;
}

RegStatus RegistryStore::set_value(const RegKeyPath& key, std::u16string_view name, DWORD type,
                                   std::span<const std::uint8_t> data, Notify notify) {
    const RegOp op = RegOp::set_value(key, std::u16string(name), type, Bytes(data.begin(), data.end()));
    return apply(std::span<const RegOp>(&op, 1), notify);
}

RegStatus RegistryStore::get_value(const RegKeyPath& key, std::u16string_view name, RegValue& out) {
    std::vector<std::optional<RegValue>> values;
    RegStatus st = get_values(key, std::span(&name, 1), values);
    if (st == RegStatus::Ok && !values[0]) st = RegStatus::NotFound;
    if (st == RegStatus::Ok) out = std::move(*values[0]);
    return st;
}

RegStatus RegistryStore::get_values(const RegKeyPath& key, std::span<const std::u16string_view> names,
                                    std::vector<std::optional<RegValue>>& out) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        check_key_path(key.path);
        out.assign(names.size(), std::nullopt);
        SqlTransaction txn(*sql_, false);
        KeyId id = 0;
        if (!lookup(key.root, fold_name(key.path), id, nullptr)) throw OpFailure{RegStatus::NotFound};
        sqlite3_stmt* s = sql_->stmt(Sql::GetValue);
        for (std::size_t i = 0; i < names.size(); ++i) {
            sqlite3_bind_int64(s, 1, id);
            bind_text(s, 2, fold_name(names[i]));
            Step step(s);
            if (step.next())
                out[i] = RegValue{column_text(s, 2), static_cast<DWORD>(sqlite3_column_int64(s, 0)), column_blob(s, 1)};
        }
    });
}

void RegistryStore::read_subtree(KeyId id, std::u16string path, RegTree& out) {
    out.path = std::move(path);
    {
        sqlite3_stmt* s = sql_->stmt(Sql::ListValues);
        sqlite3_bind_int64(s, 1, id);
        Step step(s);
        while (step.next()) out.values.push_back({column_text(s, 0), static_cast<DWORD>(sqlite3_column_int64(s, 1)),
                                                  column_blob(s, 2)});
    }
    std::vector<std::pair<KeyId, std::u16string>> children;
    {
        sqlite3_stmt* s = sql_->stmt(Sql::ListSubkeys);
        sqlite3_bind_int64(s, 1, id);
        Step step(s);
        while (step.next()) children.emplace_back(sqlite3_column_int64(s, 0), column_text(s, 1));
    }
    // The list statements are reset before recursing, since each is in use once at a time.
    out.subkeys.resize(children.size());
    for (std::size_t i = 0; i < children.size(); ++i)
        read_subtree(children[i].first, join_key_path(out.path, children[i].second), out.subkeys[i]);
}

RegStatus RegistryStore::read_tree(const RegKeyPath& key, RegTree& out) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        check_key_path(key.path);
        SqlTransaction txn(*sql_, false);
        KeyId id = 0;
        std::u16string stored;
        if (!lookup(key.root, fold_name(key.path), id, &stored)) throw OpFailure{RegStatus::NotFound};
        out = RegTree{};
        read_subtree(id, stored, out);
    });
}

bool RegistryStore::check_integrity(std::string& report) {
    std::lock_guard lock(mu_);
    return sql_->check_integrity(report);
}

std::string RegistryStore::last_error() const {
    std::lock_guard lock(mu_);
    return last_error_;
}

namespace {
std::mutex g_current_mu;
std::shared_ptr<RegistryStore> g_current;
// Changes with every set_registry(), under g_current_mu.
std::atomic<std::uint64_t> g_current_generation{0};
}  // namespace

std::shared_ptr<RegistryStore> current_registry() {
    // Every registry call of the platform API asks for the store; a thread remembers the
    // one it was last given, weakly (so that a replaced store still closes when its
    // last call ends), and takes it again without the lock while no store has been set
    // since. A call that races set_registry() may get the store being replaced, as it
    // would had it taken the lock just before.
    thread_local std::weak_ptr<RegistryStore> t_store;
    thread_local std::uint64_t t_generation = ~std::uint64_t{0};
    if (g_current_generation.load(std::memory_order_acquire) == t_generation)
        if (auto store = t_store.lock()) return store;
    std::lock_guard lock(g_current_mu);
    t_store = g_current;
    t_generation = g_current_generation.load(std::memory_order_relaxed);
    return g_current;
}

RegistryStore* thread_registry() {
    // The reference is taken once per store and thread, not at every call: taking and
    // dropping one at every call cost two atomic operations of the API's every call.
    thread_local std::shared_ptr<RegistryStore> t_store;
    thread_local std::uint64_t t_generation = ~std::uint64_t{0};
    if (g_current_generation.load(std::memory_order_acquire) != t_generation) {
        std::shared_ptr<RegistryStore> old;
        {
            std::lock_guard lock(g_current_mu);
            old = std::exchange(t_store, g_current);
            t_generation = g_current_generation.load(std::memory_order_relaxed);
        }
        // `old` may be the last reference of a replaced store: it closes here, unlocked.
    }
    return t_store.get();
}

RegistryStore& registry() {
    std::lock_guard lock(g_current_mu);
    if (!g_current) throw std::logic_error("no registry is open on this handset");
    return *g_current;
}

void set_registry(std::unique_ptr<RegistryStore> store) {
    std::shared_ptr<RegistryStore> old;
    {
        std::lock_guard lock(g_current_mu);
        old = std::move(g_current);
        g_current = std::move(store);
        g_current_generation.fetch_add(1, std::memory_order_release);
    }
    // `old` is closed here, outside the lock, once no call still holds it.
}

}  // namespace handset
