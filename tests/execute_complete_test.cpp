// The connection's completion event on real SQLite files: rows changed,
// queries, failures, and the time the database took.

#include "TestSupport.h"

#include <dataaccess/DatabaseError.h>
#include <dataaccess/DbQuery.h>
#include <dataaccess/Utf16.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

using namespace testsupport;
using dataaccess::DbConnection;

namespace {

struct Completion {
    std::string text;
    bool isQuery;
    std::int64_t rows;
    std::chrono::nanoseconds elapsed;
    bool failed;
};

// Every completion a connection reports, and every text it was about to
// send, in one sequence, so that their pairing and order show.
struct EventLog {
    std::vector<std::string> events;
    std::vector<Completion> completions;

    explicit EventLog(DbConnection& connection) {
        connection.OnWillExecute([this](std::u16string_view text) { events.push_back("will:" + dataaccess::toUtf8(text)); });
        connection.OnExecuteComplete([this](const dataaccess::ExecuteCompletion& c) {
            events.push_back("done:" + dataaccess::toUtf8(c.commandText));
            completions.push_back({dataaccess::toUtf8(c.commandText), c.isQuery, c.rowsAffected, c.elapsed, c.failed});
        });
    }
};

class ExecuteComplete : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};
};

TEST_F(ExecuteComplete, ToldRowsForStatementsMinusOneForQueriesAndFailures) {
    db.Insert({Row{"a", "X", "A", "P", 1, 0}, Row{"b", "X", "A", "P", 1, 0}, Row{"c", "X", "B", "P", 1, 0}});
    DbConnection connection(db.path().string());
    EventLog log(connection);

    EXPECT_EQ(connection.Execute(u"update GZS007 set SSSS014=1 where GZS007004='A'"), 2);
    connection.Execute(u"update GZS007 set SSSS014=1 where GZS007004='none'");
    dataaccess::DbQuery query;
    query.Connection(&connection);
    query.SQL() = {u"select * from GZS007"};
    query.Open();
    EXPECT_THROW(connection.Execute(u"update GZS007 set nope=1"), dataaccess::DatabaseError);
    query.Close();
    query.SQL() = {u"select nope from GZS007"};
    EXPECT_THROW(query.Open(), dataaccess::DatabaseError);

    ASSERT_EQ(log.completions.size(), 5u);
    const auto expect = [&](std::size_t i, const char* text, bool isQuery, std::int64_t rows, bool failed) {
        const Completion& c = log.completions[i];
        EXPECT_EQ(c.text, text) << i;
        EXPECT_EQ(c.isQuery, isQuery) << i;
        EXPECT_EQ(c.rows, rows) << i;
        EXPECT_EQ(c.failed, failed) << i;
        EXPECT_GT(c.elapsed.count(), 0) << i;
    };
    expect(0, "update GZS007 set SSSS014=1 where GZS007004='A'", false, 2, false);
    expect(1, "update GZS007 set SSSS014=1 where GZS007004='none'", false, 0, false);
    expect(2, "select * from GZS007\r\n", true, -1, false);
    expect(3, "update GZS007 set nope=1", false, -1, true);
    expect(4, "select nope from GZS007\r\n", true, -1, true);
    for (std::size_t i = 0; i < log.events.size(); i += 2) {
        EXPECT_EQ(log.events[i].substr(0, 5), "will:");
        EXPECT_EQ(log.events[i + 1], "done:" + log.events[i].substr(5)) << "each completion follows its own text";
    }
}

// The time covers the whole wait for the database: here, for another
// connection to let go of its lock.
TEST_F(ExecuteComplete, ElapsedCoversTheWaitForALockedDatabase) {
    db.Insert({Row{"a", "X", "A", "P", 1, 0}});
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.path().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto held = std::chrono::milliseconds(500);
    std::thread releaser([&] {
        std::this_thread::sleep_for(held);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });

    DbConnection connection("sqlite:Database=" + db.path().string() + ";BusyTimeout=30000");
    EventLog log(connection);
    const auto started = std::chrono::steady_clock::now();
    connection.Execute(u"update GZS007 set SSSS014=5");
    const auto wallTime = std::chrono::steady_clock::now() - started;
    releaser.join();
    sqlite3_close(other);

    ASSERT_EQ(log.completions.size(), 1u);
    // The lock was taken before the call began, so only the few moments
    // between starting the releaser and sending the update can be missing.
    EXPECT_GE(log.completions[0].elapsed, held / 2);
    EXPECT_LE(log.completions[0].elapsed, wallTime);
    EXPECT_EQ(log.completions[0].rows, 1);
}

TEST_F(ExecuteComplete, NothingIsToldWhenTheDatabaseCannotOpen) {
    DbConnection connection((dir / "missing.db").string());
    EventLog log(connection);
    EXPECT_THROW(connection.Execute(u"select 1"), dataaccess::DatabaseError);
    EXPECT_TRUE(log.events.empty());
}

}  // namespace
