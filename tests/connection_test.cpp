// The data-access layer's connection and query on real SQLite files, and
// the plug-in on connections that are closed or cannot open.

#include "TestSupport.h"

#include <dataaccess/ConnectionString.h>
#include <dataaccess/DatabaseError.h>
#include <dataaccess/DbQuery.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

using namespace testsupport;
using dataaccess::DbConnection;
using dataaccess::DbQuery;

namespace {

class SqliteConnection : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};
};

TEST_F(SqliteConnection, ClosedConnectionOpensItselfForThePlugin) {
    db.Insert({Row{kTargetGuid, kGroup, "A", kParent, 7, 0}, Row{"G-other", kGroup, "B", kParent, 1, 0}});
    LoadedPlugin plugin;
    DbConnection connection(db.path().string());
    ASSERT_FALSE(connection.Connected());

    plugin.Call(&connection);

    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(db.Rows().front(), (Row{kTargetGuid, kGroup, "A", kParent, 0, -1}));
}

TEST(UnopenableConnection, FailsBeforeAnyStatementAndLeavesNoFile) {
    TempDir dir;
    for (const auto& path : {dir / "missing.db", dir / "no-such-dir" / "x.db"}) {
        LoadedPlugin plugin;
        DbConnection connection(path.string());
        StatementLog log(connection);
        try {
            plugin.Call(&connection);
            FAIL() << "opened " << path;
        } catch (const dataaccess::DatabaseError& error) {
            EXPECT_EQ(std::string(error.what()), "unable to open database file: " + path.string());
            EXPECT_EQ(error.code(), SQLITE_CANTOPEN);
            EXPECT_TRUE(error.statement().empty());
        }
        EXPECT_TRUE(log.texts().empty());
        EXPECT_FALSE(connection.Connected());
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(SqliteConnection, ExecuteCountsChangedRowsAndReportsWhatItSends) {
    db.Insert({Row{"a", "X", "A", "P", 1, 0}, Row{"b", "X", "A", "P", 1, 0}, Row{"c", "X", "B", "P", 1, 0}});
    DbConnection connection(db.path().string());
    StatementLog log(connection);

    EXPECT_EQ(connection.Execute(u" update GZS007 set SSSS014=1 where GZS007004='A'"), 2);
    EXPECT_EQ(connection.Execute(u"select * from GZS007"), 0);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{" update GZS007 set SSSS014=1 where GZS007004='A'",
                                                     "select * from GZS007"}));
}

TEST_F(SqliteConnection, QueryRegistersSendsLinesWithCrLfAndDetachesWhenDestroyed) {
    db.Insert({Row{"a", "X", "A", "P", 1, 0}});
    DbConnection connection(db.path().string());
    StatementLog log(connection);
    {
        DbQuery query;
        EXPECT_TRUE(query.IsEmpty()) << "a closed query holds no record";
        query.Connection(&connection);
        EXPECT_EQ(connection.DataSetCount(), 1u);
        query.SQL() = {u"select *", u"from GZS007"};
        query.Open();
        EXPECT_TRUE(query.Active());
        EXPECT_FALSE(query.IsEmpty());
    }
    EXPECT_EQ(connection.DataSetCount(), 0u);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"select *\r\nfrom GZS007\r\n"});
}

TEST_F(SqliteConnection, OpenProbeDoesNotHoldTheDatabase) {
    db.Insert({Row{"a", "X", "A", "P", 1, 0}, Row{"b", "X", "A", "P", 1, 0}});
    DbConnection connection(db.path().string());
    DbQuery query;
    query.Connection(&connection);
    query.SQL() = {u"select * from GZS007"};
    query.Open();

    // Another connection can take the write lock at once: the probe's read
    // transaction has ended although the query is still open.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.path().c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; UPDATE GZS007 SET SSSS014=3; COMMIT;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    EXPECT_TRUE(query.Active());
    EXPECT_FALSE(query.IsEmpty());
}

TEST_F(SqliteConnection, QueryOutlivingItsConnectionIsDetached) {
    DbQuery query;
    {
        DbConnection connection(db.path().string());
        query.Connection(&connection);
        query.SQL() = {u"select 1"};
        query.Open();
    }
    EXPECT_EQ(query.Connection(), nullptr);
    EXPECT_FALSE(query.Active());
    EXPECT_THROW(query.Open(), std::logic_error);
}

TEST_F(SqliteConnection, RefusedQueryLeavesItClosedAndStillRegistered) {
    DbConnection connection(db.path().string());
    DbQuery query;
    query.Connection(&connection);
    query.SQL() = {u"select nope from GZS007"};
    EXPECT_THROW(query.Open(), dataaccess::DatabaseError);
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(connection.DataSetCount(), 1u);
}

TEST_F(SqliteConnection, BusyTimeoutComesFromTheConnectionString) {
    const std::string base = "sqlite:Database=" + db.path().string() + ";BusyTimeout=";
    DbConnection good(base + "250");
    EXPECT_NO_THROW(good.Open());
    for (const char* bad : {"-1", "soon", "", "12ms"}) {
        DbConnection connection(base + bad);
        EXPECT_THROW(connection.Open(), std::invalid_argument) << bad;
    }
}

TEST_F(SqliteConnection, NonDatabaseFileFailsAtFirstStatementWithSqlitesMessage) {
    const auto path = dir / "text.db";
    { std::ofstream(path) << "this is not a database, just some text that is long enough to matter............"; }
    DbConnection connection(path.string());
    try {
        connection.Execute(u"select count(*) from sqlite_master");
        FAIL();
    } catch (const dataaccess::DatabaseError& error) {
        EXPECT_STREQ(error.what(), "file is not a database");
        EXPECT_EQ(error.code(), SQLITE_NOTADB);
    }
}

TEST_F(SqliteConnection, TransactionCommitsOrRollsBackAndCloseNeverCommits) {
    db.Insert({Row{"a", "X", "A", "P", 1, 0}});
    const auto flag = [&] { return db.Count("SELECT SSSS014 FROM GZS007"); };
    DbConnection connection(db.path().string());

    connection.BeginTrans();
    connection.Execute(u"update GZS007 set SSSS014=1");
    connection.RollbackTrans();
    EXPECT_EQ(flag(), 0);

    connection.BeginTrans();
    connection.Execute(u"update GZS007 set SSSS014=2");
    connection.CommitTrans();
    EXPECT_EQ(flag(), 2);

    connection.BeginTrans();
    connection.Execute(u"update GZS007 set SSSS014=3");
    connection.Close();
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(flag(), 2);
    EXPECT_THROW(connection.CommitTrans(), std::logic_error);
}

struct ConnectionStringCase {
    const char* text;
    dataaccess::ConnectionString::Provider provider;
    const char* database;  // nullptr: no Database attribute
    const char* redacted;
};

TEST(ConnectionString, ProviderAttributesAndRedaction) {
    using P = dataaccess::ConnectionString::Provider;
    const ConnectionStringCase cases[] = {
        {"/data/app.db", P::Sqlite, "/data/app.db", "/data/app.db"},
        {"relative;odd=name.db", P::Sqlite, "relative;odd=name.db", "relative;odd=name.db"},
        {"sqlite:Database=/x.db;BusyTimeout=10", P::Sqlite, "/x.db", "sqlite:Database=/x.db;BusyTimeout=10"},
        {"sqlite:database={/a;b.db}", P::Sqlite, "/a;b.db", "sqlite:database={/a;b.db}"},
        {"odbc:DSN=main;UID=me;PWD=s3cret;", P::Odbc, nullptr, "odbc:DSN=main;UID=me;PWD=***;"},
        {"odbc:Driver={X};Password={p;w}}d};Database=db", P::Odbc, "db", "odbc:Driver={X};Password=***;Database=db"},
    };
    for (const auto& c : cases) {
        const dataaccess::ConnectionString parsed(c.text);
        EXPECT_EQ(parsed.provider(), c.provider) << c.text;
        EXPECT_EQ(parsed.attribute("DATABASE").value_or("<none>"), c.database ? c.database : "<none>") << c.text;
        EXPECT_EQ(parsed.redacted(), c.redacted) << c.text;
    }
    EXPECT_EQ(dataaccess::ConnectionString("odbc:Password={p;w}}d}").attribute("password"), "p;w}d");
}

}  // namespace
