// The correction and the connection's operations on every provider: the
// same cases, the same expectations, whichever database is behind them.

#include "ProviderTests.h"

#include <dataaccess/DatabaseError.h>
#include <dataaccess/DbQuery.h>

#include <algorithm>
#include <cctype>

using namespace testsupport;
using dataaccess::DbConnection;

namespace providers {

std::vector<EffectCase> EffectCases() {
    const Row flagA{"G-A", "X", "A", "P", 5, 0};
    const Row flagB{"G-B", "X", "B", "P", 5, 0};
    const Row flagLower{"G-a", "X", "a", "P", 5, 0};
    const Row flagSpace{"G-A-space", "X", "A ", "P", 5, 0};
    const Row flagNull{"G-null", "X", std::nullopt, "P", 5, 0};
    const Row lowerGroup{"G1", "gzu011011", "B", kParent, 1, 0};
    const Row spacedParent{"G2", kGroup, "B", std::string(kParent) + " ", 1, 0};
    const Row nullParent{"G3", kGroup, "B", std::nullopt, 1, 0};
    return {
        {"OtherRowFoundResetsTarget",
         {Target(7), OtherMatch(), flagA, flagB},
         {With006(Target(7), 0), OtherMatch(), WithFlag(flagA, -1), flagB},
         true},
        {"TargetNullBecomesZero", {Target(std::nullopt), OtherMatch()}, {Target(0), OtherMatch()}, true},
        {"FlagIsMinusOneAndOnlyForExactA",
         {flagA, flagB, flagLower, flagSpace, flagNull, WithFlag(flagA, 1)},
         {WithFlag(flagA, -1), flagB, flagLower, flagSpace, flagNull, WithFlag(flagA, -1)},
         false},
        {"NoFlagRowsStillProbes", {Target(3), OtherMatch(), flagB}, {Target(0), OtherMatch(), flagB}, true},
        {"OnlyTargetHasPairLeavesTarget", {Target(3), flagB}, {Target(3), flagB}, false},
        {"OtherMatchWithNullGuidDoesNotCount",
         {Target(3), OtherMatch(std::nullopt)},
         {Target(3), OtherMatch(std::nullopt)},
         false},
        {"PairDifferingInCaseOrSpaceDoesNotCount",
         {Target(3), lowerGroup, spacedParent, nullParent},
         {Target(3), lowerGroup, spacedParent, nullParent},
         false},
        {"ProbeFindsRowsButTargetAbsent", {OtherMatch(), flagA}, {OtherMatch(), WithFlag(flagA, -1)}, true},
        {"TargetFlaggedAndResetInOneCall",
         {Target(9, "A"), OtherMatch()},
         {WithFlag(With006(Target(9, "A"), 0), -1), OtherMatch()},
         true},
        {"EmptyTable", {}, {}, false},
    };
}

// Each statement in turn made to name what the table lacks. Every engine
// here takes ALTER TABLE ... DROP COLUMN, so the setups are shared too.
std::vector<StepFailure> StepFailures() {
    return {
        {"MissingTable", "DROP TABLE GZS007", "GZS007", 1, {}, {}},
        {"MissingSelectingColumn", "ALTER TABLE GZS007 DROP COLUMN GZS007004", "GZS007004", 1, 0, 7},
        {"ProbeColumnMissing", "ALTER TABLE GZS007 DROP COLUMN GZS007005", "GZS007005", 2, -1, 7},
        {"SecondUpdateColumnMissing", "ALTER TABLE GZS007 DROP COLUMN GZS007006", "GZS007006", 3, -1, {}},
    };
}

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string JoinedMessages(const dataaccess::DatabaseError& error) {
    std::string text;
    for (const dataaccess::Diagnostic& record : error.diagnostics()) text += (text.empty() ? "" : "\n") + record.message;
    return text;
}

// The one value of a one-row, one-column query.
std::optional<std::string> Scalar(const Backend& backend, const std::string& sql) {
    const std::vector<Values> rows = backend.query(sql);
    if (rows.size() != 1 || rows.front().size() != 1) throw std::runtime_error("not one value: " + sql);
    return rows.front().front();
}

}  // namespace

TEST_P(CorrectionOnProvider, TableAfterCallAndStatementsSent) {
    const EffectCase& c = std::get<1>(GetParam());
    backend->insert(c.before);
    LoadedPlugin plugin;
    DbConnection connection(backend->connectionString());
    StatementLog log(connection);

    plugin.Call(&connection);

    EXPECT_EQ(backend->rows(), c.after);
    std::vector<std::string> expected{kFlagUpdate, kProbe};
    if (c.secondUpdateSent) expected.push_back(kTargetUpdate);
    EXPECT_EQ(log.texts(), expected);
    EXPECT_EQ(connection.DataSetCount(), 0u);
}

TEST_P(FailingStepOnProvider, StopsThereWithEveryRecordOfTheEngine) {
    const StepFailure& c = std::get<1>(GetParam());
    backend->insert({Row{"G-A", "X", "A", "P", 5, 0}, Target(7), OtherMatch()});
    backend->exec(c.setup);
    LoadedPlugin plugin;
    DbConnection connection(backend->connectionString());
    StatementLog log(connection);
    const std::vector<std::string> all{kFlagUpdate, kProbe, kTargetUpdate};

    try {
        plugin.Call(&connection);
        FAIL() << "the call succeeded";
    } catch (const dataaccess::DatabaseError& error) {
        EXPECT_EQ(error.statement(), all.at(c.sent - 1));
        EXPECT_NE(Lower(error.what()).find(Lower(c.missing)), std::string::npos) << error.what();
        ASSERT_FALSE(error.diagnostics().empty());
        EXPECT_EQ(error.what(), JoinedMessages(error)) << "the engine's text, unchanged";
        for (const dataaccess::Diagnostic& record : error.diagnostics()) {
            if (backend->viaOdbc()) {
                EXPECT_EQ(record.sqlState.size(), 5u) << record.message;
            } else {
                EXPECT_EQ(record.sqlState, "") << "SQLite has no SQLSTATE";
            }
        }
    }

    EXPECT_EQ(log.texts(), std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.sent)))
        << "nothing after the failing step may be sent";
    EXPECT_EQ(connection.DataSetCount(), 0u);
    if (c.flagAfter) {
        EXPECT_EQ(Scalar(*backend, "SELECT SSSS014 FROM GZS007 WHERE GUID='G-A'"), std::to_string(*c.flagAfter));
    }
    if (c.target006After) {
        EXPECT_EQ(Scalar(*backend, "SELECT GZS007006 FROM GZS007 WHERE GUID='" + std::string(kTargetGuid) + "'"),
                  std::to_string(*c.target006After));
    }
}

TEST_P(OnProvider, ExecuteReturnsTheRowsChanged) {
    backend->insert({Row{"a", "X", "A", "P", 1, 0}, Row{"b", "X", "A", "P", 1, 0}, Row{"c", "X", "B", "P", 1, 0}});
    DbConnection connection(backend->connectionString());

    EXPECT_EQ(connection.Execute(u" update GZS007 set SSSS014=-1 where GZS007004='A'"), 2);
    EXPECT_EQ(connection.Execute(u" update GZS007 set SSSS014=-1 where GZS007004='none'"), 0);
    EXPECT_EQ(connection.Execute(u"select * from GZS007"), 0) << "a result set changes no row";
    EXPECT_EQ(Scalar(*backend, "SELECT COUNT(*) FROM GZS007 WHERE SSSS014=-1"), "2");
}

// The probe's query stays open and registered, yet holds nothing on the
// database: its own connection runs the next update, and another client
// writes at once (an SQLite cursor left open would keep its read lock).
TEST_P(OnProvider, OpenProbeLeavesTheConnectionAndTheDatabaseFree) {
    std::vector<Row> rows;
    for (int i = 0; i < 200; ++i) rows.push_back(Row{"G" + std::to_string(i), "X", "A", "P", 1, 0});
    backend->insert(rows);
    DbConnection connection(backend->connectionString());
    dataaccess::DbQuery query;
    query.Connection(&connection);
    query.SQL() = {u"select * from GZS007"};
    query.Open();
    ASSERT_TRUE(query.Active());
    EXPECT_FALSE(query.IsEmpty());

    EXPECT_EQ(connection.Execute(u"update GZS007 set SSSS014=2"), 200);
    EXPECT_NO_THROW(backend->exec("UPDATE GZS007 SET GZS007006=3"));

    EXPECT_TRUE(query.Active());
    EXPECT_EQ(connection.DataSetCount(), 1u);
    EXPECT_EQ(Scalar(*backend, "SELECT COUNT(*) FROM GZS007 WHERE SSSS014=2 AND GZS007006=3"), "200");
}

TEST_P(OnProvider, QueryWithoutRowsIsEmpty) {
    backend->insert({Row{"a", "X", "A", "P", 1, 0}});
    DbConnection connection(backend->connectionString());
    dataaccess::DbQuery query;
    query.Connection(&connection);
    query.SQL() = {u"select * from GZS007 where GZS007004='none'"};
    query.Open();
    EXPECT_TRUE(query.Active());
    EXPECT_TRUE(query.IsEmpty());
}

// Between BeginTrans and its end nothing is committed on its own; after
// it, statements are again (seen from another client at once).
TEST_P(OnProvider, RollbackUndoesCommitKeepsAndCloseRollsBack) {
    backend->insert({Row{"a", "X", "A", "P", 1, 0}});
    const auto flag = [this] { return Scalar(*backend, "SELECT SSSS014 FROM GZS007"); };
    DbConnection connection(backend->connectionString());

    connection.BeginTrans();
    connection.Execute(u"update GZS007 set SSSS014=1");
    connection.RollbackTrans();
    EXPECT_EQ(flag(), "0");
    connection.Execute(u"update GZS007 set SSSS014=5");
    EXPECT_EQ(flag(), "5") << "autocommit is back after a rollback";

    connection.BeginTrans();
    connection.Execute(u"update GZS007 set SSSS014=2");
    connection.CommitTrans();
    EXPECT_EQ(flag(), "2");
    connection.Execute(u"update GZS007 set SSSS014=6");
    EXPECT_EQ(flag(), "6") << "autocommit is back after a commit";

    connection.BeginTrans();
    connection.Execute(u"update GZS007 set SSSS014=3");
    connection.Close();
    EXPECT_EQ(flag(), "6") << "closing never commits";
}

TEST_P(HostOnProvider, HostProgramAppliesTheCorrection) {
    backend->insert({Target(7, "A"), OtherMatch()});

    const ProcessResult result = RunProcess({HostPath().string(), PluginPath().string(), backend->connectionString()});

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(backend->rows(), (std::vector<Row>{WithFlag(With006(Target(7, "A"), 0), -1), OtherMatch()}));
}

}  // namespace providers
