#include "dataaccess/DbConnection.h"

#include "Session.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/DbQuery.h"

#include <algorithm>

namespace dataaccess {

DbConnection::DbConnection(std::string connectionString)
    : connectionString_(std::move(connectionString)) {}

DbConnection::~DbConnection() {
    Close();
    // A query that outlives its connection must not point at it.
    for (DbQuery* query : std::vector<DbQuery*>(queries_)) query->connection_ = nullptr;
}

void DbConnection::Open() {
    if (!session_) session_ = detail::openSession(dataaccess::ConnectionString(connectionString_));
}

// Queries go first: their cursors belong to the session.
void DbConnection::Close() noexcept {
    for (DbQuery* query : queries_) query->Close();
    session_.reset();
}

std::int64_t DbConnection::Execute(std::u16string_view commandText) {
    Open();
    notifyWillExecute(commandText);
    return session_->execute(commandText);
}

std::unique_ptr<detail::Cursor> DbConnection::openCursor(std::u16string_view commandText) {
    Open();
    notifyWillExecute(commandText);
    return session_->openCursor(commandText);
}

void DbConnection::notifyWillExecute(std::u16string_view commandText) const {
    if (willExecute_) willExecute_(commandText);
}

void DbConnection::attach(DbQuery* query) {
    if (std::find(queries_.begin(), queries_.end(), query) == queries_.end()) queries_.push_back(query);
}

void DbConnection::detach(DbQuery* query) noexcept {
    queries_.erase(std::remove(queries_.begin(), queries_.end(), query), queries_.end());
}

}  // namespace dataaccess
