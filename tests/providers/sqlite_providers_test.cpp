// The shared provider tests on SQLite, natively and through the SQLite3
// ODBC driver; and what the ODBC provider does when it cannot connect.

#include "ProviderTests.h"

#include <dataaccess/DatabaseError.h>

#include <cstdlib>
#include <fstream>

using namespace testsupport;
using dataaccess::DbConnection;

namespace providers {

EDITDB_PROVIDER_TESTS(Sqlite, kSqliteNative, kSqliteOdbc);

namespace {

constexpr const char* kSecret = "Very-Secret-0815";

struct OpenFailureCase {
    const char* name;
    std::string connection;
    std::string sqlState;
    std::string message;  // the driver manager's record, exactly
    std::string shown;    // how the message names the connection string
};

class OdbcOpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

// The plug-in's first statement finds a connection that cannot open: the
// call fails before anything is sent, with the driver manager's own record
// and the connection string named, its password hidden.
TEST_P(OdbcOpenFailure, FailsBeforeAnyStatementWithTheDriverManagersRecord) {
    const OpenFailureCase& c = GetParam();
    LoadedPlugin plugin;
    DbConnection connection(c.connection);
    StatementLog log(connection);
    try {
        plugin.Call(&connection);
        FAIL() << "connected to " << c.connection;
    } catch (const dataaccess::DatabaseError& error) {
        ASSERT_EQ(error.diagnostics().size(), 1u);
        EXPECT_EQ(error.sqlState(), c.sqlState);
        EXPECT_EQ(error.diagnostics().front().message, c.message);
        EXPECT_EQ(std::string(error.what()), c.message + ": " + c.shown);
        EXPECT_TRUE(error.statement().empty());
    }
    EXPECT_TRUE(log.texts().empty());
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(connection.DataSetCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Odbc, OdbcOpenFailure,
    ::testing::Values(
        OpenFailureCase{"UnknownDsn", std::string("odbc:DSN=editdb-no-such-dsn;UID=me;PWD=") + kSecret, "IM002",
                        "[unixODBC][Driver Manager]Data source name not found and no default driver specified",
                        "odbc:DSN=editdb-no-such-dsn;UID=me;PWD=***"},
        OpenFailureCase{"MissingDriver", std::string("odbc:Driver={editdb no such driver};Password={") + kSecret + "}",
                        "01000", "[unixODBC][Driver Manager]Can't open lib 'editdb no such driver' : file not found",
                        "odbc:Driver={editdb no such driver};Password=***"},
        // The driver manager quotes the driver's name: were it the password, it
        // would not be shown there either.
        OpenFailureCase{"PasswordQuotedInTheMessage", std::string("odbc:Driver={") + kSecret + "};PWD=" + kSecret,
                        "01000", "[unixODBC][Driver Manager]Can't open lib '***' : file not found", "odbc:Driver={***};PWD=***"}),
    CaseName());

// A data source defined in an odbc.ini file: the connection string is
// handed to the driver manager as written, so a DSN works as well as a
// driver string. Run through the host program, which gets the file as
// $ODBCINI (where unixODBC reads the user's data sources); leak checking is
// off for it alone, since unixODBC's odbcinst keeps the file it parsed for
// the driver in a cache it never frees.
TEST(OdbcDataSource, DsnFromTheUsersOdbcIniReachesTheDatabase) {
    RequireOdbcDriver("SQLite3", "libsqliteodbc");
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert({Target(7, "A"), OtherMatch()});
    const auto ini = dir / "odbc.ini";
    std::ofstream(ini) << "[editdb-test]\nDriver=SQLite3\nDatabase=" << db.path().string() << "\n";
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string parentAsan = asan ? asan : "";
    ASSERT_EQ(setenv("ODBCINI", ini.c_str(), 1), 0);
    ASSERT_EQ(setenv("ASAN_OPTIONS", (parentAsan + (parentAsan.empty() ? "" : ":") + "detect_leaks=0").c_str(), 1), 0);

    const ProcessResult result = RunProcess({HostPath().string(), PluginPath().string(), "odbc:DSN=editdb-test"});
    unsetenv("ODBCINI");
    if (asan) setenv("ASAN_OPTIONS", parentAsan.c_str(), 1);
    else unsetenv("ASAN_OPTIONS");

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(db.Rows(), (std::vector<Row>{WithFlag(With006(Target(7, "A"), 0), -1), OtherMatch()}));
}

TEST(OdbcHostProgram, RefusedConnectionExitsOneWithoutThePassword) {
    const std::string connection = std::string("odbc:Driver={editdb no such driver};PWD=") + kSecret;
    const ProcessResult result = RunProcess({HostPath().string(), PluginPath().string(), connection});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "[unixODBC][Driver Manager]Can't open lib 'editdb no such driver' : file not found: "
                          "odbc:Driver={editdb no such driver};PWD=***\n");
}

}  // namespace
}  // namespace providers
