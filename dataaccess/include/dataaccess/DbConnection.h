#pragma once

#include "dataaccess/Export.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dataaccess {

// What a connection tells once a command text has run, successfully or not.
struct ExecuteCompletion {
    std::u16string_view commandText;  // exactly as the database received it
    bool isQuery = false;             // opened by a query rather than run by Execute
    std::int64_t rowsAffected = -1;   // rows changed; -1 for a query, a failure, or a provider that cannot tell
    std::chrono::nanoseconds elapsed{0};
    bool failed = false;              // the database refused it; the error is on its way to the caller
};

class DbQuery;
namespace detail {
class Session;
class Cursor;
}

// A connection to one database, in the role of the host application's
// connection object: it is made from a connection string, stays closed until
// opened, runs plain statement texts, and keeps track of the queries bound
// to it.
//
// Not thread-safe: one connection belongs to one thread at a time.
class DATAACCESS_API DbConnection {
public:
    // Told each command text exactly as it is handed to the database,
    // just before it is.
    using WillExecuteHandler = std::function<void(std::u16string_view commandText)>;
    // Told, once each command text has finished or failed, how it went and
    // how long the database took over it.
    using ExecuteCompleteHandler = std::function<void(const ExecuteCompletion& completion)>;

    explicit DbConnection(std::string connectionString);
    // Closes the connection and detaches any query still bound to it.
    ~DbConnection();

    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    const std::string& ConnectionString() const noexcept { return connectionString_; }

    // Opens the database; does nothing when already open. Throws
    // DatabaseError when the database cannot be opened.
    void Open();
    // Closes every bound query, then the database. Never throws.
    void Close() noexcept;
    bool Connected() const noexcept { return session_ != nullptr; }

    // Runs a plain statement text and returns once it has finished, with the
    // number of rows it changed. Opens the connection first when it is closed.
    std::int64_t Execute(std::u16string_view commandText);

    // Explicit transactions, for a host that wants the plug-in's work to be
    // all-or-nothing. BeginTrans opens the connection first when closed;
    // Close rolls back a transaction still open.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool InTransaction() const noexcept { return inTransaction_; }

    void OnWillExecute(WillExecuteHandler handler) { willExecute_ = std::move(handler); }
    void OnExecuteComplete(ExecuteCompleteHandler handler) { executeComplete_ = std::move(handler); }

    // The number of queries bound to this connection right now.
    std::size_t DataSetCount() const noexcept { return queries_.size(); }

private:
    friend class DbQuery;

    void attach(DbQuery* query);
    void detach(DbQuery* query) noexcept;
    std::unique_ptr<detail::Cursor> openCursor(std::u16string_view commandText);
    void notifyWillExecute(std::u16string_view commandText) const;

    std::string connectionString_;
    std::unique_ptr<detail::Session> session_;
    std::vector<DbQuery*> queries_;
    WillExecuteHandler willExecute_;
    ExecuteCompleteHandler executeComplete_;
    bool inTransaction_ = false;
};

}  // namespace dataaccess
