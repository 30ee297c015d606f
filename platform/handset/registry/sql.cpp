// The registry file's schema and statements, and the SQLite plumbing under the store
// (see sql.h).
//
// Schema: `keys` holds one row per key (the two roots are rows 1 and 2) with the
// folded path below its root as the lookup column; `vals` holds the values of a key,
// looked up by the folded value name.
#include "platform/handset/registry/sql.h"

#include <sys/file.h>

#include "platform/handset/core/host_io.h"

namespace handset {
namespace {

constexpr int kSchemaVersion = 1;

const char* const kSql[static_cast<std::size_t>(Sql::Count)] = {
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

}  // namespace

RegStatus status_of_sqlite(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return RegStatus::Busy;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_SCHEMA:
            return RegStatus::Corrupt;
        case SQLITE_FULL:
            return RegStatus::Full;
        case SQLITE_NOMEM:
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        default:
            return RegStatus::IoError;
    }
}

SqlConnection::SqlConnection(const std::string& file, int busy_timeout_ms) {
    // SQLite counts every allocation under a global lock for memory statistics that
    // nothing here reads; without them an allocation is the C library's alone. Nor does
    // its page cache lay out a first batch of twenty page slots, touching each, for a
    // registry of a few pages: pages are allocated as they are read. The settings are
    // only taken before SQLite's first use (later they are refused, harmlessly).
    static const bool untracked = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK &&
                                  sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK;
    (void)untracked;
    // Two processes that open a new registry at once both turn it to WAL, and SQLite
    // reports the one that loses as locked without calling its busy handler; so the
    // opening steps take turns on a lock file beside the registry. Where that file
    // cannot be made (a full storage), the opening goes ahead without it.
    const UniqueFd opening = open_lock_file(file + ".lock");
    const FileLock one_at_a_time(opening.get(), LOCK_EX);
    const int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        SqlError e{rc, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)};
        close();
        throw e;
    }
    sqlite3_busy_timeout(db_, busy_timeout_ms);
    // The journal and its shared index stay on disk when the last connection closes, so
    // that a device whose storage has filled up in the meantime still opens: the index
    // is made again in the room the old one leaves, and later writes reuse the room of
    // the journal.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    try {
        open_schema();
    } catch (const SqlError&) {
        close();
        throw;
    }
}

SqlConnection::~SqlConnection() { close(); }

// Statements first: a connection with statements left would not close.
void SqlConnection::close() {
    for (auto*& s : stmts_) {
        sqlite3_finalize(s);
        s = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

void SqlConnection::open_schema() {
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

    // A registry in the current format opens without the write lock; a new one takes it
    // and looks again, since another process may have laid down the tables meanwhile.
    const int found = std::stoi(query_text("PRAGMA user_version"));
    if (found == kSchemaVersion) return;
    if (found != 0) throw SqlError{SQLITE_NOTADB, "unknown registry format version " + std::to_string(found)};
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

sqlite3_stmt* SqlConnection::stmt(Sql which) {
    sqlite3_stmt*& s = stmts_[static_cast<std::size_t>(which)];
    if (!s) {
        const int rc =
            sqlite3_prepare_v3(db_, kSql[static_cast<std::size_t>(which)], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        if (rc != SQLITE_OK) {
            s = nullptr;
            throw SqlError{rc, sqlite3_errmsg(db_)};
        }
    }
    return s;
}

bool SqlConnection::check_integrity(std::string& report) {
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

SqlTransaction::SqlTransaction(SqlConnection& sql, bool write) : sql_(sql) {
    Step(sql_.stmt(write ? Sql::BeginImmediate : Sql::Begin)).run();
    open_ = true;
}

SqlTransaction::~SqlTransaction() {
    if (!open_) return;
    sqlite3_stmt* s = sql_.stmt(Sql::Rollback);
    sqlite3_step(s);
    sqlite3_reset(s);
}

void SqlTransaction::commit() {
    Step(sql_.stmt(Sql::Commit)).run();
    open_ = false;
}

bool Step::next() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SqlError{rc, sqlite3_errmsg(sqlite3_db_handle(s_))};
}

void bind_text(sqlite3_stmt* s, int i, std::u16string_view text) {
    // SQLite takes the first two bytes of UTF-16 text for a byte-order mark when they
    // are one: it would drop a name's leading U+FEFF, and read one that starts with
    // U+FFFE as big-endian. Such a text goes with a mark of its own in front.
    if (!text.empty() && (text[0] == 0xFEFF || text[0] == 0xFFFE)) {
        const std::u16string marked = u"\uFEFF" + std::u16string(text);
        sqlite3_bind_text16(s, i, marked.data(), static_cast<int>(marked.size() * 2), SQLITE_TRANSIENT);
        return;
    }
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

}  // namespace handset
