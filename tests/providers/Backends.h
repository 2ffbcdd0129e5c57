#pragma once

// The providers the shared case tables run on, each as a fresh database
// holding the standard GZS007 table. A backend reads and writes that table
// outside the data-access layer under test: SQLite files with the sqlite3
// C API, server databases with the server's own command-line client.

#include "TestSupport.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace providers {

using testsupport::Row;
using Values = std::vector<std::optional<std::string>>;  // one result row; std::nullopt is NULL

// One database, made for one test and dropped with it.
class Backend {
public:
    virtual ~Backend() = default;

    // What DbConnection is given to reach this database.
    virtual std::string connectionString() const = 0;
    // Whether failures come as ODBC diagnostic records, with SQLSTATEs.
    virtual bool viaOdbc() const = 0;
    // Runs `sql` on the database directly; throws std::runtime_error on failure.
    virtual void exec(const std::string& sql) const = 0;
    // The result rows of `sql`, every value as text.
    virtual std::vector<Values> query(const std::string& sql) const = 0;

    void insert(const std::vector<Row>& rows) const;
    std::vector<Row> rows() const;  // GZS007 in insertion order

protected:
    // What orders GZS007's rows as they were inserted.
    virtual const char* insertionOrder() const = 0;
};

// A provider as the case tables see it.
struct Provider {
    const char* name;
    bool needsServer;  // reached through a server that the test fixture starts
    std::unique_ptr<Backend> (*make)();
};

// SQLite through the native provider, and through the SQLite3 ODBC driver.
extern const Provider kSqliteNative;
extern const Provider kSqliteOdbc;
// MariaDB through MariaDB Connector/ODBC, the session in sql_mode MSSQL and
// the table binary and NO PAD (see MariaDbBackend).
extern const Provider kMariaDb;
// PostgreSQL through psqlODBC reading through a declared cursor: for the
// connection's own operations only, since it cannot parse the correction.
extern const Provider kPostgresDeclareFetch;

// The servers that test-servers.sh started for this run, as it recorded
// them in the file that EDITDB_TEST_SERVERS names.
struct TestServers {
    std::optional<std::string> skipped;  // why the server tests do not run here, if they don't
    std::string mariadbSocket;
    std::string mariadbClient;
    std::string postgresSocketDir;
    std::string postgresPort;
    std::string postgresUser;
    std::string psql;
};
// Throws std::runtime_error, saying what to do, when there is no record.
const TestServers& Servers();

// A database on the fixture's MariaDB server, reached as root through its
// socket. The table takes `collation`; utf8mb4_nopad_bin compares bytes and
// keeps trailing spaces significant, as SQLite does, so that the shared
// cases hold unchanged (MariaDB's default collations ignore case and
// trailing spaces). `sessionSetup` is the driver's INITSTMT, if any.
class MariaDbBackend final : public Backend {
public:
    static constexpr const char* kSharedCollation = "utf8mb4_nopad_bin";
    static constexpr const char* kMssqlMode = "SET SESSION sql_mode='MSSQL'";

    explicit MariaDbBackend(const char* collation = kSharedCollation, const char* sessionSetup = kMssqlMode);
    ~MariaDbBackend() override;

    std::string connectionString() const override;
    bool viaOdbc() const override { return true; }
    void exec(const std::string& sql) const override;
    std::vector<Values> query(const std::string& sql) const override;
    const std::string& database() const { return database_; }

protected:
    const char* insertionOrder() const override { return "SEQ"; }

private:
    std::string run(const std::string& sql, const std::string& database) const;

    std::string database_;
    std::string sessionSetup_;
};

// A database on the fixture's PostgreSQL cluster, through psqlODBC. With
// `declareFetch` the driver reads a query through a cursor it declares in
// a transaction of its own, which stays open as long as the cursor does.
class PostgresBackend final : public Backend {
public:
    explicit PostgresBackend(bool declareFetch = false);
    ~PostgresBackend() override;

    std::string connectionString() const override;
    bool viaOdbc() const override { return true; }
    void exec(const std::string& sql) const override;
    std::vector<Values> query(const std::string& sql) const override;
    // What psql's stderr says when the server refuses `sql`: the server's
    // own wording, without the driver's.
    std::string refusal(const std::string& sql) const;

protected:
    const char* insertionOrder() const override { return "SEQ"; }

private:
    testsupport::ProcessResult run(const std::string& sql, const std::string& database) const;

    std::string database_;
    bool declareFetch_;
};

// Fails with the package to install when the driver manager does not know
// the ODBC driver `name`.
void RequireOdbcDriver(const std::string& name, const std::string& package);

}  // namespace providers
