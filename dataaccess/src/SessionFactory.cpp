#include "Session.h"

#include "dataaccess/ConnectionString.h"
#include "sqlite/SqliteSession.h"

#include <stdexcept>

namespace dataaccess::detail {

std::unique_ptr<Session> openSession(const ConnectionString& connectionString) {
    switch (connectionString.provider()) {
    case ConnectionString::Provider::Sqlite:
        return SqliteSession::open(connectionString);
    case ConnectionString::Provider::Odbc:
        break;
    }
    throw std::invalid_argument("this build has no ODBC provider: " + connectionString.redacted());
}

}  // namespace dataaccess::detail
