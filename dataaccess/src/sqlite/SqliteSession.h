#pragma once

#include "../Session.h"

#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace dataaccess::detail {

// A session on an SQLite database file, through the system libsqlite3.
class SqliteSession final : public Session {
public:
    // Opens an existing database file read-write; never creates one.
    // Settings: Database (the file), BusyTimeout (milliseconds, default 5000),
    // MaxPageCount (the most pages the file may grow to through this
    // connection, a guard against runaway growth; unlimited by default).
    static std::unique_ptr<SqliteSession> open(const ConnectionString& connectionString);

    std::int64_t execute(std::u16string_view sql) override;
    std::unique_ptr<Cursor> openCursor(std::u16string_view sql) override;
    void beginTransaction() override;
    void commit() override;
    void rollback() override;

    static constexpr int defaultBusyTimeoutMs = 5000;

private:
    struct CloseDatabase {
        void operator()(sqlite3* db) const noexcept;
    };
    struct FinalizeStatement {
        void operator()(sqlite3_stmt* statement) const noexcept;
    };
    using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

    explicit SqliteSession(sqlite3* db) : db_(db) {}

    void limitPageCount(long long pages);
    StatementHandle prepare(std::u16string_view sql, std::u16string_view& tail) const;
    // Turns a failing result code into DatabaseError for `sql`; returns rc otherwise.
    int check(int rc, std::u16string_view sql) const;

    std::unique_ptr<sqlite3, CloseDatabase> db_;
};

}  // namespace dataaccess::detail
