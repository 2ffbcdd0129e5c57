#pragma once

// Owners of the three ODBC handles a session needs. Each frees its handle
// in its destructor, which never throws; a child keeps its parent alive, so
// that a statement is always freed before its connection is disconnected
// and a connection before its environment.

#include "dataaccess/DatabaseError.h"

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dataaccess::detail::odbc {

// On unixODBC SQLWCHAR is a 16-bit UTF-16 unit, so UTF-16 texts are handed
// to the wide calls as they are and lengths count char16_t.
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR must be UTF-16");

// Whether a call failed; SQL_NO_DATA is an answer, not a failure.
inline bool failed(SQLRETURN rc) noexcept {
    return rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA;
}

// The wide calls take non-const buffers even for input; they do not write them.
inline SQLWCHAR* wide(std::u16string& text) noexcept { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// Every diagnostic record on `handle`, in the driver's order and wording.
// Never empty: a call that failed without records gets one that says so.
std::vector<Diagnostic> diagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc);

// An environment set to ODBC 3 behaviour (SQLSTATEs, SQL_NO_DATA from a
// searched update that changed nothing).
class Environment {
public:
    Environment();
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    SQLHENV get() const noexcept { return handle_; }

private:
    SQLHENV handle_ = SQL_NULL_HENV;
};

// A connection handle; connect() attaches it to a database through the
// driver manager.
class Connection {
public:
    explicit Connection(std::shared_ptr<const Environment> environment);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // SQLDriverConnectW without prompting; returns its result, and on failure
    // leaves the reasons on the handle for diagnosticsOf. Throws nothing.
    SQLRETURN connect(const std::u16string& connectionString);

    SQLHDBC get() const noexcept { return handle_; }
    // Throws DatabaseError for a failed call on this handle; returns rc otherwise.
    SQLRETURN check(SQLRETURN rc) const;

private:
    std::shared_ptr<const Environment> environment_;
    SQLHDBC handle_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

// A statement handle on a connected connection.
class Statement {
public:
    explicit Statement(std::shared_ptr<const Connection> connection);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    SQLHSTMT get() const noexcept { return handle_; }
    // Throws DatabaseError for a failed call on this handle, naming `sql`
    // as the statement refused; returns rc otherwise (SQL_NO_DATA included).
    SQLRETURN check(SQLRETURN rc, std::u16string_view sql) const;

private:
    std::shared_ptr<const Connection> connection_;
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

}  // namespace dataaccess::detail::odbc
