#include "dataaccess/DbConnection.h"

#include "Session.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/DbQuery.h"

#include <algorithm>
#include <stdexcept>

namespace dataaccess {
namespace {

// Runs `run` on the session and tells `handler` how it went: the rows that
// `rowsOf` reads from its result, or a failure before the error goes on
// its way. The clock covers the provider's call alone.
template <typename Run, typename RowsOf>
auto runAndReport(const DbConnection::ExecuteCompleteHandler& handler, std::u16string_view commandText, bool isQuery,
                  Run run, RowsOf rowsOf) {
    const auto started = std::chrono::steady_clock::now();
    const auto report = [&](std::int64_t rows, bool failed) {
        if (handler) handler(ExecuteCompletion{commandText, isQuery, rows, std::chrono::steady_clock::now() - started, failed});
    };
    decltype(run()) result{};
    try {
        result = run();
    } catch (...) {
        report(-1, true);
        throw;
    }
    report(rowsOf(result), false);
    return result;
}

}  // namespace

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

// Queries go first: their cursors belong to the session. A transaction
// left open is rolled back, never committed by accident.
void DbConnection::Close() noexcept {
    for (DbQuery* query : queries_) query->Close();
    if (session_ && inTransaction_) {
        try {
            session_->rollback();
        } catch (...) {
            // The session is going away; closing it ends the transaction anyway.
        }
    }
    inTransaction_ = false;
    session_.reset();
}

void DbConnection::BeginTrans() {
    if (inTransaction_) throw std::logic_error("DbConnection::BeginTrans: a transaction is already open");
    Open();
    session_->beginTransaction();
    inTransaction_ = true;
}

void DbConnection::CommitTrans() {
    if (!inTransaction_) throw std::logic_error("DbConnection::CommitTrans: no transaction is open");
    session_->commit();
    inTransaction_ = false;
}

// The transaction counts as ended even when the rollback fails, as the
// database ends it too.
void DbConnection::RollbackTrans() {
    if (!inTransaction_) throw std::logic_error("DbConnection::RollbackTrans: no transaction is open");
    inTransaction_ = false;
    session_->rollback();
}

std::int64_t DbConnection::Execute(std::u16string_view commandText) {
    Open();
    notifyWillExecute(commandText);
    return runAndReport(
        executeComplete_, commandText, false, [&] { return session_->execute(commandText); },
        [](std::int64_t rows) { return rows; });
}

std::unique_ptr<detail::Cursor> DbConnection::openCursor(std::u16string_view commandText) {
    Open();
    notifyWillExecute(commandText);
    return runAndReport(
        executeComplete_, commandText, true, [&] { return session_->openCursor(commandText); },
        [](const std::unique_ptr<detail::Cursor>&) { return std::int64_t{-1}; });
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
