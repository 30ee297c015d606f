// The registry file's SQL: its schema, the table of statements the store runs, and the
// helpers that bind, step and wrap them in transactions.
//
// One SqlConnection is one store's connection to the file. Its statements are prepared
// on first use and reused for the connection's life. SQLite failures are thrown as
// SqlError; the store turns them into a RegStatus once, at its public boundary
// (status_of_sqlite).
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/handset/registry/store.h"

namespace handset {

struct SqlError {
    int rc;
    std::string message;
};

// The store's status for a failed SQLite call.
RegStatus status_of_sqlite(int rc);

// The statements of a connection (the SQL of each is in sql.cpp).
enum class Sql : int {
    Begin,
    BeginImmediate,
    Commit,
    Rollback,
    FindKey,
    KeyById,
    InsertKey,
    GetValue,
    UpsertValue,
    DeleteValue,
    DeleteSubtreeValues,
    DeleteSubtreeKeys,
    EnumSubkey,
    EnumValue,
    ListSubkeys,
    ListValues,
    Count
};

class SqlConnection {
public:
    // Opens or creates the registry file in WAL mode and checks (or makes) its schema.
    // Throws SqlError.
    SqlConnection(const std::string& file, int busy_timeout_ms);
    ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    sqlite3* db() const { return db_; }
    // The statement, prepared on first use; throws SqlError.
    sqlite3_stmt* stmt(Sql which);
    // SQLite's integrity check; true when it reports "ok", else `report` holds what it found.
    bool check_integrity(std::string& report);

private:
    void open_schema();
    void close();

    sqlite3* db_ = nullptr;
    std::array<sqlite3_stmt*, static_cast<std::size_t>(Sql::Count)> stmts_{};
};

// A transaction that rolls back unless committed. `write` takes the file's write lock
// at once (BEGIN IMMEDIATE), so that the transaction cannot fail on it half-way.
class SqlTransaction {
public:
    SqlTransaction(SqlConnection& sql, bool write);
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;
    void commit();

private:
    SqlConnection& sql_;
    bool open_ = false;
};

// Resets a statement when the step that used it is over, whatever way it ends.
class Step {
public:
    explicit Step(sqlite3_stmt* s) : s_(s) {}
    ~Step() { sqlite3_reset(s_); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

    // True for a row, false when done; throws SqlError on failure.
    bool next();
    void run() {
        while (next()) {
        }
    }

private:
    sqlite3_stmt* s_;
};

// Binds UTF-16 text; an empty view still binds '' (a null pointer would bind NULL).
void bind_text(sqlite3_stmt* s, int i, std::u16string_view text);
void bind_blob(sqlite3_stmt* s, int i, std::span<const std::uint8_t> data);
std::u16string column_text(sqlite3_stmt* s, int i);
Bytes column_blob(sqlite3_stmt* s, int i);

}  // namespace handset
