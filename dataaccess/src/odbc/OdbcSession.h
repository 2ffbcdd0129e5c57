#pragma once

#include "../Session.h"
#include "OdbcHandles.h"

#include <memory>

namespace dataaccess::detail {

// A session on any database that an ODBC driver reaches, through the
// unixODBC driver manager and its wide (UTF-16) calls.
class OdbcSession final : public Session {
public:
    // Connects with the connection string's body (a DSN, or Driver=... and
    // the driver's own keywords) as it is written, without prompting.
    // Throws DatabaseError with every record and the redacted string.
    static std::unique_ptr<OdbcSession> open(const ConnectionString& connectionString);

    std::int64_t execute(std::u16string_view sql) override;
    std::unique_ptr<Cursor> openCursor(std::u16string_view sql) override;
    void beginTransaction() override;
    void commit() override;
    void rollback() override;

private:
    explicit OdbcSession(std::shared_ptr<const odbc::Connection> connection) : connection_(std::move(connection)) {}

    void setAutocommit(bool on);
    void endTransaction(SQLSMALLINT completion);

    std::shared_ptr<const odbc::Connection> connection_;
};

}  // namespace dataaccess::detail
