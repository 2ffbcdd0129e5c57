#include "dataaccess/DbQuery.h"

#include "Session.h"
#include "dataaccess/DbConnection.h"

#include <stdexcept>

namespace dataaccess {

DbQuery::DbQuery() = default;

DbQuery::~DbQuery() {
    Connection(nullptr);  // closes first; detaching cannot throw
}

void DbQuery::Connection(DbConnection* connection) {
    if (connection == connection_) return;
    Close();
    if (connection_) connection_->detach(this);
    connection_ = nullptr;
    if (connection) {
        connection->attach(this);
        connection_ = connection;
    }
}

void DbQuery::Open() {
    if (Active()) return;
    if (!connection_) throw std::logic_error("DbQuery::Open: the query has no connection");
    cursor_ = connection_->openCursor(commandText());
}

void DbQuery::Close() noexcept { cursor_.reset(); }

bool DbQuery::IsEmpty() const noexcept { return !cursor_ || cursor_->isEmpty(); }

// Every line reaches the database followed by CR LF, the last one included.
std::u16string DbQuery::commandText() const {
    std::u16string text;
    for (const std::u16string& line : sql_) {
        text += line;
        text += u"\r\n";
    }
    return text;
}

}  // namespace dataaccess
