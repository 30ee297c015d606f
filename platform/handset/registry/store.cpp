// The registry store over SQLite (see store.h).
//
// Schema: `keys` holds one row per key (the two roots are rows 1 and 2) with the
// folded path below its root as the lookup column; `vals` holds the values of a key,
// looked up by the folded value name. Statements are prepared once per connection and
// reused. Inside the store, SQLite failures travel as SqlError and rule violations as
// OpFailure; guarded() turns both into a RegStatus at the public boundary, after
// rolling back whatever transaction was open.
#include "platform/handset/registry/store.h"

#include <sqlite3.h>

#include <array>
#include <atomic>
#include <cassert>
#include <cstring>
#include <unordered_map>

#include "platform/handset/core/events.h"
#include "platform/handset/core/utf.h"

namespace handset {
namespace {

constexpr int kSchemaVersion = 1;

struct SqlError {
    int rc;
    std::string message;
};

struct OpFailure {
    RegStatus status;
};

RegStatus status_of_sqlite(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return RegStatus::Busy;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_SCHEMA:
            return RegStatus::Corrupt;
        case SQLITE_NOMEM:
        case SQLITE_IOERR:
        case SQLITE_FULL:
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        default:
            return RegStatus::IoError;
    }
}

// Statements, by index into RegistryStore::stmts_.
enum StmtId {
    kBegin,
    kBeginImmediate,
    kCommit,
    kRollback,
    kFindKey,
    kKeyById,
    kInsertKey,
    kGetValue,
    kUpsertValue,
    kDeleteValue,
    kDeleteSubtreeValues,
    kDeleteSubtreeKeys,
    kEnumSubkey,
    kEnumValue,
    kListSubkeys,
    kListValues,
    kStmtCount
};

const char* const kSql[kStmtCount] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id, path FROM keys WHERE root = ?1 AND lpath = ?2",
    "SELECT root, path FROM keys WHERE id = ?1",
    "INSERT INTO keys(root, parent, name, path, lpath) VALUES(?1, ?2, ?3, ?4, ?5)",
    "SELECT type, data, name FROM vals WHERE key = ?1 AND lname = ?2",
    // A value keeps the name it was created with when it is set again in other case.
    "INSERT INTO vals(key, lname, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, lname) DO UPDATE SET type = excluded.type, data = excluded.data RETURNING name",
    "DELETE FROM vals WHERE key = ?1 AND lname = ?2 RETURNING name",
    // Folded paths below "a\b" sort between "a\b\" and "a\b]" (']' follows '\').
    "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE root = ?1 AND "
    "(lpath = ?2 OR (lpath >= ?2 || '\\' AND lpath < ?2 || ']')))",
    "DELETE FROM keys WHERE root = ?1 AND (lpath = ?2 OR (lpath >= ?2 || '\\' AND lpath < ?2 || ']'))",
    // Siblings share their parent's path, so folded paths sort them by folded name.
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY lpath LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY lpath",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
};

const char* const kSchema =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY,"
    "  root INTEGER NOT NULL,"
    "  parent INTEGER,"
    "  name TEXT NOT NULL,"
    "  path TEXT NOT NULL,"
    "  lpath TEXT NOT NULL,"
    "  UNIQUE(root, lpath));"
    "CREATE INDEX keys_by_parent ON keys(parent, lpath);"
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY,"
    "  key INTEGER NOT NULL,"
    "  lname TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, lname));"
    "INSERT INTO keys(id, root, parent, name, path, lpath) VALUES(1, 1, NULL, '', '', '');"
    "INSERT INTO keys(id, root, parent, name, path, lpath) VALUES(2, 2, NULL, '', '', '');";

std::atomic<std::uint64_t> g_next_serial{1};

// Binds UTF-16 text; an empty view still binds '' (a null pointer would bind NULL).
void bind_text(sqlite3_stmt* s, int i, std::u16string_view text) {
    static const char16_t empty[1] = {0};
    sqlite3_bind_text16(s, i, text.empty() ? empty : text.data(), static_cast<int>(text.size() * 2), SQLITE_STATIC);
}

void bind_blob(sqlite3_stmt* s, int i, std::span<const std::uint8_t> data) {
    static const std::uint8_t empty[1] = {0};
    sqlite3_bind_blob(s, i, data.empty() ? empty : data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
}

std::u16string column_text(sqlite3_stmt* s, int i) {
    const void* p = sqlite3_column_text16(s, i);
    const int n = sqlite3_column_bytes16(s, i);
    if (!p || n <= 0) return {};
    return std::u16string(static_cast<const char16_t*>(p), static_cast<std::size_t>(n) / 2);
}

Bytes column_blob(sqlite3_stmt* s, int i) {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, i));
    const int n = sqlite3_column_bytes(s, i);
    return p && n > 0 ? Bytes(p, p + n) : Bytes();
}

// Resets a statement when the step that used it is over, whatever way it ends.
class Step {
public:
    explicit Step(sqlite3_stmt* s) : s_(s) {}
    ~Step() { sqlite3_reset(s_); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

    // True for a row, false when done; throws SqlError on failure.
    bool next() {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw SqlError{rc, sqlite3_errmsg(sqlite3_db_handle(s_))};
    }
    void run() {
        while (next()) {
        }
    }

private:
    sqlite3_stmt* s_;
};

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

// An event waiting for its write to be committed.
struct RegistryStore::Event {
    const char* kind;
    Json fields;
};

// A value as a point read found it: Ok with the value, NotFound or KeyDeleted.
struct RegistryStore::CachedValue {
    RegStatus status = RegStatus::NotFound;
    DWORD type = REG_NONE;
    Bytes data;
    std::u16string name;
};

// Answers to point reads, kept while the registry file is unchanged.
//
// SQLite commits a WAL transaction by rewriting the WAL-index header at the start of
// the shared-memory file (-shm) that every connection to the file maps, in every
// process; a commit becomes visible to readers exactly when that header changes (its
// layout is part of SQLite's documented WAL file format). The header, read as SQLite
// reads it (first copy, barrier, second copy, both equal), is thus a version of the
// whole file: an answer read from SQLite after the version was taken stays true while
// the version is unchanged. Reading 96 bytes of mapped memory costs far less than the
// file locks every SQLite read transaction takes.
//
// Answers are found by the folded path or name, and also by the exact text a caller
// asked with: programs ask with the same literals again and again, and a text seen
// before needs neither checking nor folding again.
struct RegistryStore::ReadCache {
    static constexpr std::size_t kHeaderWords = 12;         // one 48-byte header copy
    static constexpr std::uint32_t kWalIndexVersion = 3007000;
    static constexpr std::size_t kMaxEntries = 4096;
    using Version = std::array<std::uint32_t, 2 * kHeaderWords>;

    struct KeyAnswer {
        bool found;
        KeyId id;
        std::u16string stored_path;
    };

    volatile std::uint32_t* shm = nullptr;
    bool valid = false;
    Version version{};
    std::unordered_map<std::u16string, KeyAnswer> keys;      // root, then folded path
    std::unordered_map<std::u16string, CachedValue> values;  // key id, then folded name
    // The same answers by the text asked with (entries of the maps above, whose
    // elements stay in place until cleared).
    std::unordered_map<std::u16string, const KeyAnswer*> keys_asked;
    std::unordered_map<std::u16string, const CachedValue*> values_asked;
    std::u16string probe;  // a slot being looked for; keeps its capacity between lookups

    // Builds the slot of a key in `probe`.
    const std::u16string& key_slot(RegRoot root, std::u16string_view path) {
        probe.assign(1, static_cast<char16_t>(root));
        return probe.append(path);
    }
    const std::u16string& value_slot(KeyId id, std::u16string_view name) {
        probe.assign(reinterpret_cast<const char16_t*>(&id), sizeof id / sizeof(char16_t));
        return probe.append(name);
    }
    void clear() {
        keys.clear();
        values.clear();
        keys_asked.clear();
        values_asked.clear();
    }
    void make_room() {
        if (keys.size() + values.size() + keys_asked.size() + values_asked.size() >= kMaxEntries) clear();
    }
};

// A transaction that rolls back unless committed.
class RegistryStore::Txn {
public:
    Txn(RegistryStore& store, bool write) : store_(store) {
        Step(store_.stmt(write ? kBeginImmediate : kBegin)).run();
        open_ = true;
    }
    ~Txn() {
        if (open_) {
            sqlite3_stmt* s = store_.stmt(kRollback);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
    }
    void commit() {
        Step(store_.stmt(kCommit)).run();
        open_ = false;
    }

private:
    RegistryStore& store_;
    bool open_ = false;
};

RegistryStore::RegistryStore(const std::string& db_file, int busy_timeout_ms)
    : file_(db_file),
      serial_(g_next_serial.fetch_add(1)),
      stmts_(kStmtCount, nullptr),
      cache_(std::make_unique<ReadCache>()) {
    const int rc = sqlite3_open_v2(db_file.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw RegistryOpenError("cannot open registry " + db_file + ": " + why);
    }
    sqlite3_busy_timeout(db_, busy_timeout_ms);
    try {
        open_schema();
    } catch (const SqlError& e) {
        for (auto* s : stmts_) sqlite3_finalize(s);
        sqlite3_close(db_);
        db_ = nullptr;
        throw RegistryOpenError("cannot open registry " + db_file + ": " + e.message);
    }
}

RegistryStore::~RegistryStore() {
    for (auto* s : stmts_) sqlite3_finalize(s);
    sqlite3_close(db_);
}

void RegistryStore::open_schema() {
    auto exec = [this](const char* sql) {
        char* msg = nullptr;
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
        if (rc != SQLITE_OK) {
            SqlError e{rc, msg ? msg : sqlite3_errstr(rc)};
            sqlite3_free(msg);
            throw e;
        }
    };
    auto query_text = [this](const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) throw SqlError{sqlite3_errcode(db_), sqlite3_errmsg(db_)};
        std::string out;
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW && sqlite3_column_text(s, 0)) out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw SqlError{rc, sqlite3_errmsg(db_)};
        return out;
    };
    // WAL lets readers go on while another process writes; with WAL, NORMAL sync
    // loses no committed transaction when a process dies (only a power cut could).
    if (query_text("PRAGMA journal_mode=WAL") != "wal") throw SqlError{SQLITE_IOERR, "the file cannot use WAL mode"};
    exec("PRAGMA synchronous=NORMAL");

    exec("BEGIN IMMEDIATE");
    try {
        const int version = std::stoi(query_text("PRAGMA user_version"));
        if (version == 0) {
            exec(kSchema);
            exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        } else if (version != kSchemaVersion) {
            throw SqlError{SQLITE_NOTADB, "unknown registry format version " + std::to_string(version)};
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

sqlite3_stmt* RegistryStore::stmt(int which) {
    sqlite3_stmt*& s = stmts_[which];
    if (!s) {
        const int rc = sqlite3_prepare_v3(db_, kSql[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        if (rc != SQLITE_OK) {
            s = nullptr;
            throw SqlError{rc, sqlite3_errmsg(db_)};
        }
    }
    return s;
}

// Whether cached answers may be used now; forgets them when the file has changed.
bool RegistryStore::cache_current() {
    ReadCache& c = *cache_;
    if (!c.shm) {
        sqlite3_file* f = nullptr;
        if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || !f->pMethods ||
            f->pMethods->iVersion < 2 || !f->pMethods->xShmMap)
            return false;
        void volatile* region = nullptr;
        if (f->pMethods->xShmMap(f, 0, 32 * 1024, 0, &region) != SQLITE_OK || !region) return false;
        c.shm = static_cast<volatile std::uint32_t*>(region);
    }
    ReadCache::Version v;
    for (std::size_t i = 0; i < ReadCache::kHeaderWords; ++i) v[i] = __atomic_load_n(&c.shm[i], __ATOMIC_RELAXED);
    std::atomic_thread_fence(std::memory_order_acquire);
    for (std::size_t i = ReadCache::kHeaderWords; i < v.size(); ++i) v[i] = __atomic_load_n(&c.shm[i], __ATOMIC_RELAXED);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(v.data());
    const bool settled = std::equal(v.begin(), v.begin() + ReadCache::kHeaderWords, v.begin() + ReadCache::kHeaderWords);
    // Word 0 is the WAL-index format version, byte 12 the "initialised" flag.
    if (!settled || v[0] != ReadCache::kWalIndexVersion || bytes[12] == 0) {
        c.valid = false;
        c.clear();
        return false;
    }
    if (!c.valid || v != c.version) {
        c.clear();
        c.version = v;
        c.valid = true;
    }
    c.make_room();
    return true;
}

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
    sqlite3_stmt* s = stmt(kFindKey);
    sqlite3_bind_int(s, 1, static_cast<int>(root));
    bind_text(s, 2, folded_path);
    Step step(s);
    if (!step.next()) return false;
    id = sqlite3_column_int64(s, 0);
    if (stored_path) *stored_path = column_text(s, 1);
    return true;
}

bool RegistryStore::key_row(KeyId id, RegRoot& root, std::u16string& stored_path) {
    sqlite3_stmt* s = stmt(kKeyById);
    sqlite3_bind_int64(s, 1, id);
    Step step(s);
    if (!step.next()) return false;
    root = static_cast<RegRoot>(sqlite3_column_int(s, 0));
    stored_path = column_text(s, 1);
    return true;
}

// Finds or creates the key and its missing parents; call inside a write transaction.
KeyId RegistryStore::make_key(const RegKeyPath& key, bool& created, std::u16string* stored_path) {
    check_key_path(key.path);
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
            sqlite3_stmt* s = stmt(kInsertKey);
            sqlite3_bind_int(s, 1, static_cast<int>(key.root));
            sqlite3_bind_int64(s, 2, parent);
            bind_text(s, 3, name);
            bind_text(s, 4, path);
            bind_text(s, 5, lpath);
            Step(s).run();
            id = sqlite3_last_insert_rowid(db_);
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
                                std::span<const std::uint8_t> data, std::vector<Event>* events) {
    check_value_name(name);
    const std::u16string lname = fold_name(name);
    sqlite3_stmt* s = stmt(kUpsertValue);
    sqlite3_bind_int64(s, 1, key);
    bind_text(s, 2, lname);
    bind_text(s, 3, name);
    sqlite3_bind_int64(s, 4, type);
    bind_blob(s, 5, data);
    Step step(s);
    std::u16string stored_name(name);
    if (step.next()) stored_name = column_text(s, 0);
    step.run();
    if (!events) return;
    Json fields = Json::object();
    fields["key"] = format_key_path(where);
    fields["name"] = to_utf8(stored_name);
    const std::string kind = typed_value_kind(type, data);
    fields["type"] = kind;
    if (kind == "dword" || kind == "qword") {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < data.size(); ++i) v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
        fields["data"] = v;
    } else if (kind == "sz") {
        std::u16string text;
        sz_text(data, text);
        fields["data"] = to_utf8(text);
    } else {
        fields["data"] = hex_bytes(data);
    }
    events->push_back({"reg.set", std::move(fields)});
}

bool RegistryStore::remove_value(KeyId key, const RegKeyPath& where, std::u16string_view name,
                                 std::vector<Event>* events) {
    const std::u16string lname = fold_name(name);
    sqlite3_stmt* s = stmt(kDeleteValue);
    sqlite3_bind_int64(s, 1, key);
    bind_text(s, 2, lname);
    Step step(s);
    if (!step.next()) return false;
    const std::u16string stored_name = column_text(s, 0);
    step.run();
    if (events) {
        Json fields = Json::object();
        fields["key"] = format_key_path(where);
        fields["name"] = to_utf8(stored_name);
        events->push_back({"reg.delete", std::move(fields)});
    }
    return true;
}

bool RegistryStore::remove_key(const RegKeyPath& key, std::vector<Event>* events) {
    if (key.path.empty()) throw OpFailure{RegStatus::Denied};
    check_key_path(key.path);
    const std::u16string folded = fold_name(key.path);
    KeyId id = 0;
    std::u16string stored;
    if (!lookup(key.root, folded, id, &stored)) return false;
    for (int which : {kDeleteSubtreeValues, kDeleteSubtreeKeys}) {
        sqlite3_stmt* s = stmt(which);
        sqlite3_bind_int(s, 1, static_cast<int>(key.root));
        bind_text(s, 2, folded);
        Step(s).run();
    }
    if (events) {
        Json fields = Json::object();
        fields["key"] = format_key_path({key.root, stored});
        events->push_back({"reg.delete", std::move(fields)});
    }
    return true;
}

void RegistryStore::emit_all(std::vector<Event>& pending) {
    for (auto& e : pending) events().emit(e.kind, std::move(e.fields));
}

RegStatus RegistryStore::find_key(const RegKeyPath& key, KeyId& id, std::u16string* stored_path) {
    std::lock_guard lock(mu_);
    // A missing key is an everyday answer: it is returned, not thrown.
    RegStatus missing = RegStatus::Ok;
    const RegStatus status = guarded([&] {
        const bool cached = cache_current();
        ReadCache& c = *cache_;
        const ReadCache::KeyAnswer* answer = nullptr;
        if (cached) {
            auto asked = c.keys_asked.find(c.key_slot(key.root, key.path));
            if (asked != c.keys_asked.end()) answer = asked->second;
        }
        if (!answer) {
            check_key_path(key.path);
            const std::u16string folded = fold_name(key.path);
            if (!cached) {
                if (!lookup(key.root, folded, id, stored_path)) missing = RegStatus::NotFound;
                return;
            }
            auto it = c.keys.find(c.key_slot(key.root, folded));
            if (it == c.keys.end()) {
                ReadCache::KeyAnswer fresh{false, 0, {}};
                fresh.found = lookup(key.root, folded, fresh.id, &fresh.stored_path);
                it = c.keys.emplace(c.probe, std::move(fresh)).first;
            }
            answer = &it->second;
            c.keys_asked.emplace(c.key_slot(key.root, key.path), answer);
        }
        if (!answer->found) {
            missing = RegStatus::NotFound;
            return;
        }
        id = answer->id;
        if (stored_path) *stored_path = answer->stored_path;
    });
    return status == RegStatus::Ok ? missing : status;
}

// Reads a value of a key by id, from the cache when it may be used. Mutex held.
const RegistryStore::CachedValue& RegistryStore::read_value(KeyId key, std::u16string_view name, CachedValue& scratch) {
    assert(mu_.held());
    const bool cached = cache_current();
    ReadCache& c = *cache_;
    if (cached) {
        auto asked = c.values_asked.find(c.value_slot(key, name));
        if (asked != c.values_asked.end()) return *asked->second;
    }
    const std::u16string lname = fold_name(name);
    if (cached) {
        auto it = c.values.find(c.value_slot(key, lname));
        if (it != c.values.end()) {
            c.values_asked.emplace(c.value_slot(key, name), &it->second);
            return it->second;
        }
    }
    scratch = {RegStatus::NotFound, REG_NONE, {}, {}};
    sqlite3_stmt* s = stmt(kGetValue);
    sqlite3_bind_int64(s, 1, key);
    bind_text(s, 2, lname);
    bool found = false;
    {
        Step step(s);
        if (step.next()) {
            found = true;
            scratch.status = RegStatus::Ok;
            scratch.type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
            scratch.data = column_blob(s, 1);
            scratch.name = column_text(s, 2);
        }
    }
    if (!found) {
        RegRoot root;
        std::u16string path;
        if (!key_row(key, root, path)) scratch.status = RegStatus::KeyDeleted;
    }
    if (!cached) return scratch;
    const CachedValue& stored = c.values.emplace(c.value_slot(key, lname), std::move(scratch)).first->second;
    c.values_asked.emplace(c.value_slot(key, name), &stored);
    return stored;
}

RegStatus RegistryStore::create_key(const RegKeyPath& key, KeyId& id, bool& created, std::u16string* stored_path) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        check_key_path(key.path);
        // Most opens find the key: try that without taking the write lock of the file.
        created = false;
        if (lookup(key.root, fold_name(key.path), id, stored_path)) return;
        Txn txn(*this, true);
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
    std::lock_guard lock(mu_);
    // A missing value is an everyday answer: it is returned, not thrown.
    RegStatus missing = RegStatus::Ok;
    const RegStatus status = guarded([&] {
        CachedValue scratch;
        const CachedValue& v = read_value(key, name, scratch);
        if (v.status != RegStatus::Ok) {
            missing = v.status;
            return;
        }
        type = v.type;
        size = v.data.size();
        if (buf && size <= capacity && size > 0) std::memcpy(buf, v.data.data(), size);
    });
    return status == RegStatus::Ok ? missing : status;
}

RegStatus RegistryStore::get_value(KeyId key, std::u16string_view name, RegValue& out) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        CachedValue scratch;
        const CachedValue& v = read_value(key, name, scratch);
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
    std::vector<Event> pending;
    RegStatus st;
    {
        std::lock_guard lock(mu_);
        st = guarded([&] {
            Txn txn(*this, true);
            RegKeyPath where;
            if (!key_row(key, where.root, where.path)) throw OpFailure{RegStatus::KeyDeleted};
            change(where, notify == Notify::Events ? &pending : nullptr);
            txn.commit();
        });
    }
    if (st == RegStatus::Ok) emit_all(pending);
    return st;
}

RegStatus RegistryStore::set_value(KeyId key, std::u16string_view name, DWORD type, std::span<const std::uint8_t> data,
                                   Notify notify) {
    return change_key(key, notify, [&](const RegKeyPath& where, std::vector<Event>* events) {
        write_value(key, where, name, type, data, events);
    });
}

RegStatus RegistryStore::delete_value(KeyId key, std::u16string_view name, Notify notify) {
    return change_key(key, notify, [&](const RegKeyPath& where, std::vector<Event>* events) {
        if (!remove_value(key, where, name, events)) throw OpFailure{RegStatus::NotFound};
    });
}

// The index-th row of an enumeration statement (bound to key and index) handed to
// read(stmt); NoMoreItems past the last, KeyDeleted when the key is gone.
template <class Read>
RegStatus RegistryStore::enum_row(KeyId key, std::uint32_t index, int which_stmt, Read&& read) {
    std::lock_guard lock(mu_);
    return guarded([&] {
        Txn txn(*this, false);
        RegRoot root;
        std::u16string path;
        if (!key_row(key, root, path)) throw OpFailure{RegStatus::KeyDeleted};
        sqlite3_stmt* s = stmt(which_stmt);
        sqlite3_bind_int64(s, 1, key);
        sqlite3_bind_int64(s, 2, index);
        Step step(s);
        if (!step.next()) throw OpFailure{RegStatus::NoMoreItems};
        read(s);
    });
}

RegStatus RegistryStore::enum_subkey(KeyId key, std::uint32_t index, std::u16string& name) {
    return enum_row(key, index, kEnumSubkey, [&](sqlite3_stmt* s) { name = column_text(s, 0); });
}

RegStatus RegistryStore::enum_value(KeyId key, std::uint32_t index, RegValue& out) {
    return enum_row(key, index, kEnumValue, [&](sqlite3_stmt* s) {
        out.name = column_text(s, 0);
        out.type = static_cast<DWORD>(sqlite3_column_int64(s, 1));
        out.data = column_blob(s, 2);
    });
}

RegStatus RegistryStore::apply(std::span<const RegOp> ops, Notify notify, std::size_t* failed_op) {
    std::vector<Event> pending;
    std::vector<Event>* events_out = notify == Notify::Events ? &pending : nullptr;
    std::size_t current = 0;
    RegStatus st;
    {
        std::lock_guard lock(mu_);
        st = guarded([&] {
            Txn txn(*this, true);
            for (current = 0; current < ops.size(); ++current) {
                const RegOp& op = ops[current];
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
                        check_key_path(op.key.path);
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
        emit_all(pending);
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
    std::lock_guard lock(mu_);
    return guarded([&] {
        check_key_path(key.path);
        Txn txn(*this, false);
        KeyId id = 0;
        if (!lookup(key.root, fold_name(key.path), id, nullptr)) throw OpFailure{RegStatus::NotFound};
        sqlite3_stmt* s = stmt(kGetValue);
        sqlite3_bind_int64(s, 1, id);
        bind_text(s, 2, fold_name(name));
        Step step(s);
        if (!step.next()) throw OpFailure{RegStatus::NotFound};
        out.name = column_text(s, 2);
        out.type = static_cast<DWORD>(sqlite3_column_int64(s, 0));
        out.data = column_blob(s, 1);
    });
}

void RegistryStore::read_subtree(KeyId id, std::u16string path, RegTree& out) {
    out.path = std::move(path);
    {
        sqlite3_stmt* s = stmt(kListValues);
        sqlite3_bind_int64(s, 1, id);
        Step step(s);
        while (step.next()) out.values.push_back({column_text(s, 0), static_cast<DWORD>(sqlite3_column_int64(s, 1)),
                                                  column_blob(s, 2)});
    }
    std::vector<std::pair<KeyId, std::u16string>> children;
    {
        sqlite3_stmt* s = stmt(kListSubkeys);
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
        Txn txn(*this, false);
        KeyId id = 0;
        std::u16string stored;
        if (!lookup(key.root, fold_name(key.path), id, &stored)) throw OpFailure{RegStatus::NotFound};
        out = RegTree{};
        read_subtree(id, stored, out);
    });
}

bool RegistryStore::check_integrity(std::string& report) {
    std::lock_guard lock(mu_);
    report.clear();
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &s, nullptr) != SQLITE_OK) {
        report = sqlite3_errmsg(db_);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        if (!report.empty()) report += '\n';
        if (const auto* t = sqlite3_column_text(s, 0)) report += reinterpret_cast<const char*>(t);
    }
    if (rc != SQLITE_DONE) report = sqlite3_errmsg(db_);
    sqlite3_finalize(s);
    return rc == SQLITE_DONE && report == "ok";
}

std::string RegistryStore::last_error() const {
    std::lock_guard lock(mu_);
    return last_error_;
}

namespace {
std::mutex g_current_mu;
std::shared_ptr<RegistryStore> g_current;
}  // namespace

std::shared_ptr<RegistryStore> current_registry() {
    std::lock_guard lock(g_current_mu);
    return g_current;
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
    }
    // `old` is closed here, outside the lock, once no call still holds it.
}

}  // namespace handset
