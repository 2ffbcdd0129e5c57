#include "SqliteSession.h"

#include "dataaccess/ConnectionString.h"
#include "dataaccess/DatabaseError.h"
#include "dataaccess/Utf16.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace dataaccess::detail {
namespace {

// The probe's answer is all an SQLite cursor keeps: its statement is
// finalized as soon as the first step is known, which ends the implicit
// read transaction and leaves the file free for writers.
class SqliteCursor final : public Cursor {
public:
    explicit SqliteCursor(bool hasRow) : hasRow_(hasRow) {}
    bool isEmpty() const noexcept override { return !hasRow_; }

private:
    bool hasRow_;
};

// Reads the attribute `key` as a whole number within [least, most];
// `fallback` when the connection string does not name it.
long long parseWholeNumber(const ConnectionString& connectionString, const char* key, long long least,
                           long long most, long long fallback, const char* unit) {
    const auto text = connectionString.attribute(key);
    if (!text) return fallback;
    long long value = -1;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < least || value > most)
        throw std::invalid_argument(std::string(key) + " must be a whole number of " + unit + ": " + *text);
    return value;
}

int parseBusyTimeout(const ConnectionString& connectionString) {
    return static_cast<int>(parseWholeNumber(connectionString, "BusyTimeout", 0, std::numeric_limits<int>::max(),
                                             SqliteSession::defaultBusyTimeoutMs, "milliseconds"));
}

// 0 keeps SQLite's own limit, which is as large as a file can get.
long long parseMaxPageCount(const ConnectionString& connectionString) {
    return parseWholeNumber(connectionString, "MaxPageCount", 1, std::numeric_limits<std::uint32_t>::max(), 0,
                            "pages");
}

Diagnostic diagnosticOf(sqlite3* db, int rc) {
    return Diagnostic{std::string(), db ? sqlite3_extended_errcode(db) : rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
}

bool isWhitespace(std::u16string_view text) {
    for (char16_t c : text)
        if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n') return false;
    return true;
}

}  // namespace

void SqliteSession::CloseDatabase::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

void SqliteSession::FinalizeStatement::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}

std::unique_ptr<SqliteSession> SqliteSession::open(const ConnectionString& connectionString) {
    const std::string path = connectionString.attribute("Database").value_or(std::string());
    const int busyTimeoutMs = parseBusyTimeout(connectionString);
    const long long maxPageCount = parseMaxPageCount(connectionString);

    // Without SQLITE_OPEN_CREATE a missing or mistyped path fails here and
    // leaves no empty database behind.
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, CloseDatabase> db(raw);  // sqlite3_open_v2 may hand back a handle even on failure
    if (rc != SQLITE_OK) throw DatabaseError::openFailure(diagnosticOf(db.get(), rc), path);

    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    std::unique_ptr<SqliteSession> session(new SqliteSession(db.release()));
    if (maxPageCount > 0) session->limitPageCount(maxPageCount);
    return session;
}

// PRAGMA max_page_count holds for this connection only and is not stored in
// the file: a statement that would grow the file past it fails with
// SQLITE_FULL and is undone, as on a full disk. SQLite never sets the limit
// below the file's current size.
void SqliteSession::limitPageCount(long long pages) {
    execute(u"PRAGMA max_page_count = " + fromUtf8(std::to_string(pages)));
}

int SqliteSession::check(int rc, std::u16string_view sql) const {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
    throw DatabaseError({diagnosticOf(db_.get(), rc)}, toUtf8(sql));
}

// Prepares the first statement of `sql` and sets `tail` to what follows it.
// The handle is null when `sql` holds nothing but white space or comments.
SqliteSession::StatementHandle SqliteSession::prepare(std::u16string_view sql, std::u16string_view& tail) const {
    sqlite3_stmt* raw = nullptr;
    const void* rest = nullptr;
    const int bytes = static_cast<int>(sql.size() * sizeof(char16_t));
    check(sqlite3_prepare16_v2(db_.get(), sql.data(), bytes, &raw, &rest), sql);
    StatementHandle statement(raw);
    const auto consumed = static_cast<std::size_t>(static_cast<const char16_t*>(rest) - sql.data());
    tail = sql.substr(consumed);
    return statement;
}

// Runs every statement of the text in turn, each stepped until done; rows a
// statement returns are passed over unread.
std::int64_t SqliteSession::execute(std::u16string_view sql) {
    std::int64_t changed = 0;
    std::u16string_view rest = sql;
    while (!isWhitespace(rest)) {
        std::u16string_view tail;
        StatementHandle statement = prepare(rest, tail);
        if (statement) {
            while (check(sqlite3_step(statement.get()), sql) == SQLITE_ROW) {
            }
            if (!sqlite3_stmt_readonly(statement.get())) changed += sqlite3_changes64(db_.get());
        }
        rest = tail;
    }
    return changed;
}

// Steps the query once: a row, or none, is all that is asked.
std::unique_ptr<Cursor> SqliteSession::openCursor(std::u16string_view sql) {
    std::u16string_view tail;
    StatementHandle statement = prepare(sql, tail);
    const bool hasRow = statement && check(sqlite3_step(statement.get()), sql) == SQLITE_ROW;
    return std::make_unique<SqliteCursor>(hasRow);
}

// BEGIN IMMEDIATE takes the write lock now, so that a correction meant to
// be all-or-nothing waits for (or fails on) another writer before it has
// changed anything, rather than half-way through.
void SqliteSession::beginTransaction() { execute(u"BEGIN IMMEDIATE"); }

void SqliteSession::commit() { execute(u"COMMIT"); }

void SqliteSession::rollback() { execute(u"ROLLBACK"); }

}  // namespace dataaccess::detail
