#pragma once

// The two operations the correction performs on the host's connection.
// Statements are built as single-byte ASCII and widened to UTF-16 here, at
// the edge of the data-access layer.

#include <dataaccess/DbQuery.h>

#include <string>

namespace dataaccess {
class DbConnection;
}

namespace editdb {

// Runs `statement` on the connection as plain text and waits until it has
// finished; what it returns is not read. Opens a closed connection first.
void RunStatement(dataaccess::DbConnection& connection, const std::string& statement);

// A query made for one probe: bound to the connection on construction,
// opened by Open, and closed and unbound from the connection on destruction,
// whichever way the scope is left.
class ProbeQuery {
public:
    explicit ProbeQuery(dataaccess::DbConnection& connection);

    ProbeQuery(const ProbeQuery&) = delete;
    ProbeQuery& operator=(const ProbeQuery&) = delete;

    // Sets `statement` as the query's only line, opens it and answers whether
    // it holds at least one record. The query stays open until destroyed.
    bool Open(const std::string& statement);

private:
    dataaccess::DbQuery query_;
};

// Widens single-byte ASCII text to UTF-16.
std::u16string Widen(const std::string& ascii);

}  // namespace editdb
