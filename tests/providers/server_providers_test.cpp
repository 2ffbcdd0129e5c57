// The shared provider tests on a real MariaDB server through MariaDB
// Connector/ODBC, what MariaDB does outside the shared cases, and what a
// PostgreSQL server does with a correction whose probe it cannot parse.
// The servers are the test fixture's (test-servers.sh), private to this run.

#include "ProviderTests.h"

#include <dataaccess/DatabaseError.h>
#include <dataaccess/DbQuery.h>
#include <dataaccess/Utf16.h>

#include <sstream>

using namespace testsupport;
using dataaccess::DbConnection;

namespace providers {

EDITDB_PROVIDER_TESTS(Server, kMariaDb);
INSTANTIATE_TEST_SUITE_P(Postgres, OnProvider, ::testing::Values(kPostgresDeclareFetch), ProviderName());

namespace {

const Row kFlagRow{"G-A", "X", "A", "P", 5, 0};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Servers().skipped) GTEST_SKIP() << *Servers().skipped;
    }
};

class MariaDbServer : public ServerTest {};

// Without sql_mode MSSQL, MariaDB reads [GUID] as a syntax error: the
// first update stays applied and the second is never sent.
TEST_F(MariaDbServer, WithoutMssqlModeRefusesTheProbe) {
    MariaDbBackend backend(MariaDbBackend::kSharedCollation, nullptr);
    backend.insert({Target(7, "A"), OtherMatch()});
    LoadedPlugin plugin;
    DbConnection connection(backend.connectionString());
    StatementLog log(connection);

    try {
        plugin.Call(&connection);
        FAIL() << "the probe was accepted";
    } catch (const dataaccess::DatabaseError& error) {
        EXPECT_EQ(error.code(), 1064) << error.what();  // ER_PARSE_ERROR
        EXPECT_EQ(error.sqlState(), "42000");
        EXPECT_NE(std::string(error.what()).find("near '[GUID]<>'"), std::string::npos) << error.what();
        EXPECT_EQ(error.statement(), kProbe);
    }

    EXPECT_EQ(log.texts(), (std::vector<std::string>{kFlagUpdate, kProbe}));
    EXPECT_EQ(backend.rows(), (std::vector<Row>{WithFlag(Target(7, "A"), -1), OtherMatch()}));
    EXPECT_EQ(connection.DataSetCount(), 0u);
}

// With MariaDB's default collation, case and trailing spaces do not count:
// the layer adds no comparison rules of its own, the engine's decide.
TEST_F(MariaDbServer, DefaultCollationComparesByItsOwnRules) {
    MariaDbBackend backend("utf8mb4_general_ci");
    const Row lowerFlag{"G-a", "X", "a", "P", 5, 0};
    const Row spacedFlag{"G-A-space", "X", "A ", "P", 5, 0};
    const Row lowerGroup{"G1", "gzu011011", "B", kParent, 1, 0};
    backend.insert({Target(7), lowerFlag, spacedFlag, lowerGroup});
    LoadedPlugin plugin;
    DbConnection connection(backend.connectionString());

    plugin.Call(&connection);

    EXPECT_EQ(backend.rows(),
              (std::vector<Row>{Target(0), WithFlag(lowerFlag, -1), WithFlag(spacedFlag, -1), lowerGroup}));
}

// The password reaches the server, and no message.
TEST_F(MariaDbServer, PasswordIsUsedButNeverShown) {
    MariaDbBackend backend;
    const std::string user = "u_" + backend.database();
    backend.exec("CREATE USER '" + user + "'@'localhost' IDENTIFIED BY 'Right-Secret-4711'; GRANT ALL ON " +
                 backend.database() + ".* TO '" + user + "'@'localhost'");
    const auto as = [&](const std::string& password) {
        return "odbc:Driver={MariaDB Unicode};Socket=" + Servers().mariadbSocket + ";User=" + user +
               ";PWD=" + password + ";Database=" + backend.database();
    };

    DbConnection right(as("Right-Secret-4711"));
    EXPECT_EQ(right.Execute(u"update GZS007 set SSSS014=1"), 0);

    DbConnection wrong(as("Wrong-Secret-0815"));
    try {
        wrong.Open();
        FAIL() << "connected with a wrong password";
    } catch (const dataaccess::DatabaseError& error) {
        const std::string what = error.what();
        EXPECT_EQ(error.code(), 1045) << what;  // ER_ACCESS_DENIED_ERROR
        EXPECT_EQ(what.find("Wrong-Secret"), std::string::npos) << what;
        EXPECT_NE(what.find(";PWD=***;"), std::string::npos) << what;
    }
    backend.exec("DROP USER '" + user + "'@'localhost'");
}

class PostgresServer : public ServerTest {};

// psqlODBC reads a declared cursor inside a transaction of its own; an
// open probe must not keep it, or the server would hold the session
// "idle in transaction", its snapshot and locks, while the correction goes on.
TEST_F(PostgresServer, OpenProbeLeavesNoTransactionOpen) {
    PostgresBackend backend(true);
    std::vector<Row> rows;
    for (int i = 0; i < 50; ++i) rows.push_back(Row{"G" + std::to_string(i), "X", "A", "P", 1, 0});
    backend.insert(rows);
    DbConnection connection(backend.connectionString());
    dataaccess::DbQuery query;
    query.Connection(&connection);
    query.SQL() = {u"select * from GZS007"};
    query.Open();
    ASSERT_FALSE(query.IsEmpty());

    EXPECT_EQ(backend.query("SELECT state FROM pg_stat_activity WHERE datname = current_database()"
                            " AND pid <> pg_backend_pid()"),
              (std::vector<Values>{{std::string("idle")}}));
    EXPECT_TRUE(query.Active());
}

// PostgreSQL has no bracketed identifiers: the correction fails at the
// probe, with the server's own syntax error, after the first update.
class PostgresRejectsBrackets : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (IsSkipped()) return;
        backend = std::make_unique<PostgresBackend>();
        backend->insert({Target(7, "A"), OtherMatch(), kFlagRow});
    }

    // Only the first update applied; the target keeps GZS007006.
    static std::vector<Row> AfterFirstUpdate() {
        return {WithFlag(Target(7, "A"), -1), OtherMatch(), WithFlag(kFlagRow, -1)};
    }

    std::unique_ptr<PostgresBackend> backend;
};

TEST_F(PostgresRejectsBrackets, FirstUpdateStaysProbeFailsSecondIsNeverSent) {
    const std::string serverSays = backend->refusal(kProbe);
    LoadedPlugin plugin;
    DbConnection connection(backend->connectionString());
    StatementLog log(connection);

    try {
        plugin.Call(&connection);
        FAIL() << "the probe was accepted";
    } catch (const dataaccess::DatabaseError& error) {
        EXPECT_EQ(error.sqlState(), "42601");  // syntax_error
        EXPECT_NE(std::string(error.what()).find(serverSays), std::string::npos)
            << "driver: " << error.what() << "\nserver: " << serverSays;
        EXPECT_EQ(error.statement(), kProbe);
    }

    EXPECT_EQ(log.texts(), (std::vector<std::string>{kFlagUpdate, kProbe}));
    EXPECT_EQ(backend->rows(), AfterFirstUpdate());
    EXPECT_EQ(connection.DataSetCount(), 0u);
}

TEST_F(PostgresRejectsBrackets, HostReportsTheMessageUnchanged) {
    // What the driver says about the probe, asked without the plug-in, so
    // that the table is still as inserted when the host runs.
    std::string driverSays;
    {
        DbConnection connection(backend->connectionString());
        dataaccess::DbQuery query;
        query.Connection(&connection);
        const std::string probe = kProbe;
        query.SQL() = {dataaccess::fromUtf8(probe.substr(0, probe.size() - 2))};  // the query adds CR LF
        try {
            query.Open();
        } catch (const dataaccess::DatabaseError& error) {
            driverSays = error.what();
        }
    }
    ASSERT_FALSE(driverSays.empty()) << "the probe was accepted";
    ASSERT_EQ(backend->rows(), (std::vector<Row>{Target(7, "A"), OtherMatch(), kFlagRow}));

    const ProcessResult result =
        RunProcess({HostPath().string(), PluginPath().string(), backend->connectionString()});

    EXPECT_EQ(result.exitCode, 1);
    // Standard error begins with the driver's message, each of its lines as
    // the driver wrote it (a host may show the line breaks between them as
    // escapes), and holds the server's own wording.
    std::istringstream lines(driverSays);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(result.err.rfind(line, 0), 0u) << result.err;
    while (std::getline(lines, line)) EXPECT_NE(result.err.find(line), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(backend->refusal(kProbe)), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" Select * from GZS007 where GZS007002='GZU011011'"), std::string::npos)
        << "the statement refused follows: " << result.err;
    EXPECT_EQ(backend->rows(), AfterFirstUpdate());
}

}  // namespace
}  // namespace providers
