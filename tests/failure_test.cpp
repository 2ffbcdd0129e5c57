// Each step of the correction made to fail by a real fault in a real
// database: what stayed applied, what was never sent, what the host caught.

#include "TestSupport.h"

#include <dataaccess/DatabaseError.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace testsupport;

namespace {

struct FailureCase {
    const char* name;
    std::string setup;    // schema and rows, run on an empty file
    std::string message;  // exactly what the database says
    long code;            // SQLite extended result code
    std::vector<std::string> sent;  // the last one is the one that failed
    std::optional<std::int64_t> flagAfter;       // SSSS014 of row G-A, where the table has it
    std::optional<std::int64_t> target006After;  // GZS007006 of the target row, where it has one
};

const std::string kRows =
    " INSERT INTO GZS007 (GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014) VALUES"
    " ('G-A', 'X', 'A', 'P', 5, 0),"
    " ('A520000000000000GZU011011_013', 'GZU011011', 'B', 'A520000000000000GZSSYS002_002', 7, 0),"
    " ('G-other', 'GZU011011', 'B', 'A520000000000000GZSSYS002_002', 1, 0);";

// The standard table with every column but `dropped`, and the rows above.
std::string TableWithout(const char* dropped) {
    return std::string(kGzs007Schema) + kRows + " ALTER TABLE GZS007 DROP COLUMN " + dropped + ";";
}

std::string TableWithTriggerRaising(const char* column, const char* message) {
    return std::string(kGzs007Schema) + kRows + " CREATE TRIGGER refuse BEFORE UPDATE OF " + column +
           " ON GZS007 BEGIN SELECT RAISE(ABORT, '" + message + "'); END;";
}

std::vector<FailureCase> FailureCases() {
    return {
        {"MissingTable", "CREATE TABLE other (x);", "no such table: GZS007", SQLITE_ERROR, {kFlagUpdate}, {}, {}},
        {"MissingFlagColumn", TableWithout("SSSS014"), "no such column: SSSS014", SQLITE_ERROR, {kFlagUpdate}, {}, 7},
        {"MissingSelectingColumn", TableWithout("GZS007004"), "no such column: GZS007004", SQLITE_ERROR,
         {kFlagUpdate}, {}, 7},
        {"FirstUpdateRefusedByTrigger", TableWithTriggerRaising("SSSS014", "flags are frozen"), "flags are frozen",
         SQLITE_CONSTRAINT_TRIGGER, {kFlagUpdate}, 0, 7},
        {"ProbeColumnMissing", TableWithout("GZS007005"), "no such column: GZS007005", SQLITE_ERROR,
         {kFlagUpdate, kProbe}, -1, 7},
        {"SecondUpdateColumnMissing", TableWithout("GZS007006"), "no such column: GZS007006", SQLITE_ERROR,
         {kFlagUpdate, kProbe, kTargetUpdate}, -1, {}},
        {"SecondUpdateRefusedByTrigger", TableWithTriggerRaising("GZS007006", "target is locked"), "target is locked",
         SQLITE_CONSTRAINT_TRIGGER, {kFlagUpdate, kProbe, kTargetUpdate}, -1, 7},
    };
}

class FailingStep : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingStep, StopsThereAndReachesTheHostUnchanged) {
    const FailureCase& c = GetParam();
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", c.setup);
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    StatementLog log(connection);

    try {
        plugin.Call(&connection);
        FAIL() << "the call succeeded";
    } catch (const dataaccess::DatabaseError& error) {
        EXPECT_STREQ(error.what(), c.message.c_str());
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.statement(), c.sent.back());
    }

    EXPECT_EQ(log.texts(), c.sent) << "nothing after the failing step may be sent";
    EXPECT_EQ(connection.DataSetCount(), 0u);
    if (c.flagAfter) {
        EXPECT_EQ(db.Count("SELECT SSSS014 FROM GZS007 WHERE GUID='G-A'"), *c.flagAfter);
    }
    if (c.target006After) {
        EXPECT_EQ(db.Count("SELECT GZS007006 FROM GZS007 WHERE GUID='" + std::string(kTargetGuid) + "'"),
                  *c.target006After);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, FailingStep, ::testing::ValuesIn(FailureCases()), CaseName());

// The connection is still usable after a failed call: nothing of the
// plug-in's is left on it.
TEST(FailureAftermath, ConnectionRunsNextCallAfterFailure) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", "CREATE TABLE GZS007 (GUID TEXT, GZS007002 TEXT, GZS007004 TEXT, SSSS014 INTEGER);");
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    EXPECT_THROW(plugin.Call(&connection), dataaccess::DatabaseError);

    db.Exec("ALTER TABLE GZS007 ADD COLUMN GZS007005 TEXT; ALTER TABLE GZS007 ADD COLUMN GZS007006 INTEGER;");
    db.Insert({Row{kTargetGuid, kGroup, "B", kParent, 7, 0}, Row{"G-other", kGroup, "B", kParent, 1, 0}});
    plugin.Call(&connection);

    EXPECT_EQ(db.Count("SELECT GZS007006 FROM GZS007 WHERE GUID='" + std::string(kTargetGuid) + "'"), 0);
    EXPECT_EQ(connection.DataSetCount(), 0u);
}

}  // namespace
