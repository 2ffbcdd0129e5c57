#include "Session.h"

#include "dataaccess/ConnectionString.h"
#include "odbc/OdbcSession.h"
#include "sqlite/SqliteSession.h"

#include <stdexcept>

namespace dataaccess::detail {

std::unique_ptr<Session> openSession(const ConnectionString& connectionString) {
    switch (connectionString.provider()) {
    case ConnectionString::Provider::Sqlite:
        return SqliteSession::open(connectionString);
    case ConnectionString::Provider::Odbc:
        return OdbcSession::open(connectionString);
    }
    throw std::logic_error("no provider for " + connectionString.redacted());
}

}  // namespace dataaccess::detail
