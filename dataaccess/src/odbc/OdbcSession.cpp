#include "OdbcSession.h"

#include "dataaccess/ConnectionString.h"
#include "dataaccess/DatabaseError.h"
#include "dataaccess/Utf16.h"

namespace dataaccess::detail {
namespace {

using odbc::Statement;

// An open probe: its answer, and its statement handle, still allocated on
// the connection but with its cursor closed (see openCursor). Freeing the
// handle is what closing the query does.
class OdbcCursor final : public Cursor {
public:
    OdbcCursor(std::unique_ptr<Statement> statement, bool hasRow)
        : statement_(std::move(statement)), hasRow_(hasRow) {}
    bool isEmpty() const noexcept override { return !hasRow_; }

private:
    std::unique_ptr<Statement> statement_;
    bool hasRow_;
};

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// A driver that refuses a connection may quote the string it was given;
// the password never reaches a message, even there, nor through another
// attribute that happens to hold the same text.
std::string withoutPasswords(std::string text, const ConnectionString& connectionString) {
    for (const char* key : {"PWD", "Password"}) {
        const std::optional<std::string> secret = connectionString.attribute(key);
        if (secret && !secret->empty()) replaceAll(text, *secret, "***");
    }
    return text;
}

// SQLExecDirectW on a copy of `sql` (the call wants a buffer it may treat
// as writable); returns SQL_NO_DATA for a searched update or delete that
// changed nothing.
SQLRETURN executeDirect(const Statement& statement, std::u16string_view sql) {
    std::u16string text(sql);
    const auto length = static_cast<SQLINTEGER>(text.size());
    return statement.check(SQLExecDirectW(statement.get(), odbc::wide(text), length), sql);
}

bool hasResultSet(const Statement& statement, std::u16string_view sql) {
    SQLSMALLINT columns = 0;
    statement.check(SQLNumResultCols(statement.get(), &columns), sql);
    return columns > 0;
}

// The rows that the current result changed; a result set changes none, and
// a driver that cannot tell (-1) is counted as none.
std::int64_t rowsChanged(const Statement& statement, std::u16string_view sql) {
    if (hasResultSet(statement, sql)) return 0;
    SQLLEN rows = 0;
    statement.check(SQLRowCount(statement.get(), &rows), sql);
    return rows > 0 ? static_cast<std::int64_t>(rows) : 0;
}

}  // namespace

std::unique_ptr<OdbcSession> OdbcSession::open(const ConnectionString& connectionString) {
    auto connection = std::make_shared<odbc::Connection>(std::make_shared<const odbc::Environment>());
    const SQLRETURN rc = connection->connect(fromUtf8(connectionString.body()));
    if (odbc::failed(rc)) {
        std::vector<Diagnostic> records = odbc::diagnosticsOf(SQL_HANDLE_DBC, connection->get(), rc);
        for (Diagnostic& record : records) record.message = withoutPasswords(record.message, connectionString);
        throw DatabaseError::openFailure(std::move(records),
                                         withoutPasswords(connectionString.redacted(), connectionString));
    }
    return std::unique_ptr<OdbcSession>(new OdbcSession(std::move(connection)));
}

// Runs the text on a statement handle of its own, freed on return. Every
// result it yields is stepped over with SQLMoreResults, unread, so that an
// error the driver reports only for a later statement of a batch still
// fails the call; the changed rows of all of them are added up.
std::int64_t OdbcSession::execute(std::u16string_view sql) {
    const Statement statement(connection_);
    std::int64_t changed = 0;
    for (SQLRETURN rc = executeDirect(statement, sql); rc != SQL_NO_DATA;
         rc = statement.check(SQLMoreResults(statement.get()), sql))
        changed += rowsChanged(statement, sql);
    return changed;
}

// Executes the query and fetches once: a row, or none, is all that is asked.
//
// The cursor is then closed with SQLFreeStmt(SQL_CLOSE), which discards the
// rest of the result set, and any further results, but keeps the statement
// handle allocated: the query stays open on the connection while the
// connection itself is free again. Many drivers allow one active result
// set per connection (a streaming MySQL cursor, SQL Server without MARS),
// so a cursor left open would make the next SQLExecDirectW on another
// handle fail with "connection busy" or "commands out of sync"; psqlODBC,
// reading through a declared cursor, would keep the server session idle in
// a transaction, holding its snapshot and locks. SQL_CLOSE rather than
// SQLCloseCursor: the latter fails with 24000 when there is no cursor (a
// statement that returned no result set).
std::unique_ptr<Cursor> OdbcSession::openCursor(std::u16string_view sql) {
    auto statement = std::make_unique<Statement>(connection_);
    const bool hasRow = executeDirect(*statement, sql) != SQL_NO_DATA && hasResultSet(*statement, sql) &&
                        statement->check(SQLFetch(statement->get()), sql) != SQL_NO_DATA;
    statement->check(SQLFreeStmt(statement->get(), SQL_CLOSE), sql);
    return std::make_unique<OdbcCursor>(std::move(statement), hasRow);
}

// ODBC has no BEGIN: leaving autocommit mode opens a transaction, which
// the driver starts at the next statement.
void OdbcSession::beginTransaction() { setAutocommit(false); }

// The transaction is ended first: turning autocommit back on while one is
// still open would commit it.
void OdbcSession::commit() {
    endTransaction(SQL_COMMIT);
    setAutocommit(true);
}

void OdbcSession::rollback() {
    endTransaction(SQL_ROLLBACK);
    setAutocommit(true);
}

void OdbcSession::setAutocommit(bool on) {
    const auto value = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF));
    connection_->check(SQLSetConnectAttrW(connection_->get(), SQL_ATTR_AUTOCOMMIT, value, SQL_IS_UINTEGER));
}

void OdbcSession::endTransaction(SQLSMALLINT completion) {
    connection_->check(SQLEndTran(SQL_HANDLE_DBC, connection_->get(), completion));
}

}  // namespace dataaccess::detail
