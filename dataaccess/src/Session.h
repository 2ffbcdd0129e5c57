#pragma once

// The seam between the connection and the database providers. A provider
// turns a connection string into a Session; the connection and its queries
// speak to the database only through these two interfaces.

#include <cstdint>
#include <memory>
#include <string_view>

namespace dataaccess {
class ConnectionString;
}

namespace dataaccess::detail {

// What an open query keeps once it knows whether a row exists. It holds no
// lock on the database and reads nothing more.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual bool isEmpty() const noexcept = 0;
};

// One open session on a database. Every failure is thrown as DatabaseError.
class Session {
public:
    virtual ~Session() = default;

    // Runs the statement text to completion; returns the rows it changed.
    virtual std::int64_t execute(std::u16string_view sql) = 0;

    // Runs a query, reads at most its first row, and lets go of the rest.
    virtual std::unique_ptr<Cursor> openCursor(std::u16string_view sql) = 0;

    // Explicit transactions; between them statements are not committed on
    // their own. rollback() is also what a closing session does with a
    // transaction still open.
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
};

// Opens a session with the provider that the connection string names.
std::unique_ptr<Session> openSession(const ConnectionString& connectionString);

}  // namespace dataaccess::detail
