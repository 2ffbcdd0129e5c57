// editdb-host as a tool for applying a correction safely, run as a user
// runs it on real database files: the transaction around the plug-in, the
// dry run, the report, the trace, --quiet, and no password in any output.

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <regex>
#include <sstream>

using namespace testsupport;

namespace {

const Row kTarget{kTargetGuid, kGroup, "A", kParent, 7, 0};
const Row kOther{"G-other", kGroup, "B", kParent, 1, 0};
const Row kTargetCorrected{kTargetGuid, kGroup, "A", kParent, 0, -1};
const Row kTargetFlagOnly{kTargetGuid, kGroup, "A", kParent, 7, -1};

std::string TriggerRaising(const char* column, const char* raise) {
    return std::string("CREATE TRIGGER refuse BEFORE UPDATE OF ") + column + " ON GZS007 BEGIN SELECT RAISE(" +
           raise + "); END;";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The report's line that starts with `label`, without the label.
std::string ReportField(const std::string& out, const std::string& label) {
    for (const std::string& line : Lines(out))
        if (line.rfind(label, 0) == 0) return line.substr(line.find_first_not_of(' ', label.size()));
    return "<no " + label + " line>";
}

// The report's table rows, from the heading to the blank line after it.
std::vector<std::string> ReportTable(const std::string& out) {
    std::vector<std::string> rows;
    bool inTable = false;
    for (const std::string& line : Lines(out)) {
        if (std::regex_match(line, std::regex(R"(\s+#\s+rows\s+time\s+statement)"))) inTable = true;
        else if (inTable && line.empty()) break;
        else if (inTable) rows.push_back(line);
    }
    return rows;
}

// A table row: number (empty for a transaction step), rows column, a time
// in ms or s, and the text, exactly as the database received it.
std::string RowPattern(const std::string& number, const std::string& rows, const std::string& text) {
    const std::string quoted = std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    return R"(\s*)" + number + R"(\s+)" + rows + R"(\s+\d+\.\d{3} m?s  )" + quoted;
}

// The probe as the report and the trace show it: its CR LF written out.
const std::string kProbeShown = std::regex_replace(kProbe, std::regex("\r\n$"), R"(\r\n)");

class HostCorrection : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};

    void SetUp() override { db.Insert({kTarget, kOther}); }

    ProcessResult Run(std::vector<std::string> options, std::string connection = "") const {
        options.insert(options.begin(), HostPath().string());
        options.push_back(PluginPath().string());
        options.push_back(connection.empty() ? db.path().string() : connection);
        return RunProcess(options);
    }
};

// What each mode leaves in the table, the exit status and the outcome line.
struct OutcomeCase {
    const char* name;
    std::vector<std::string> options;
    std::string setupSql;
    int exitCode;
    std::string outcome;
    std::vector<Row> rowsAfter;
};

class HostOutcome : public HostCorrection, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(HostOutcome, LeavesTheTableAsTheOutcomeSays) {
    const OutcomeCase& c = GetParam();
    if (!c.setupSql.empty()) db.Exec(c.setupSql);
    const ProcessResult result = Run(c.options);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
    EXPECT_EQ(ReportField(result.out, "outcome"), c.outcome) << result.out;
    EXPECT_EQ(db.Rows(), c.rowsAfter);
}

const std::string kRefuseSecond = TriggerRaising("GZS007006", "ABORT, 'no, not today'");

INSTANTIATE_TEST_SUITE_P(
    Modes, HostOutcome,
    ::testing::Values(
        OutcomeCase{"Applied", {}, "", 0, "applied: 2 rows changed", {kTargetCorrected, kOther}},
        OutcomeCase{"Committed", {"--transaction"}, "", 0, "applied and committed: 2 rows changed",
                    {kTargetCorrected, kOther}},
        OutcomeCase{"DryRun", {"--dry-run"}, "", 0,
                    "dry run, rolled back: would have changed 2 rows; the database is unchanged", {kTarget, kOther}},
        OutcomeCase{"DryRunWinsOverTransaction", {"--transaction", "--dry-run"}, "", 0,
                    "dry run, rolled back: would have changed 2 rows; the database is unchanged", {kTarget, kOther}},
        // The second update is refused: without a transaction the first stays applied.
        OutcomeCase{"FailsWithoutTransaction", {}, kRefuseSecond, 1,
                    "failed at statement 3: no, not today; not rolled back: the statements before it stay applied "
                    "(1 row changed)",
                    {kTargetFlagOnly, kOther}},
        OutcomeCase{"FailsInTransaction", {"--transaction"}, kRefuseSecond, 1,
                    "failed at statement 3: no, not today; rolled back, the database is unchanged", {kTarget, kOther}},
        OutcomeCase{"FailsInDryRun", {"--dry-run"}, kRefuseSecond, 1,
                    "failed at statement 3: no, not today; rolled back, the database is unchanged", {kTarget, kOther}},
        OutcomeCase{"FirstStatementFails", {}, TriggerRaising("SSSS014", "ABORT, 'frozen'"), 1,
                    "failed at statement 1: frozen; nothing was changed", {kTarget, kOther}},
        // The engine itself ends the transaction: the host's rollback then
        // finds none, and says so rather than claiming it rolled back.
        OutcomeCase{"EngineRollsBackFirst", {"--transaction"}, TriggerRaising("GZS007006", "ROLLBACK, 'undone'"), 1,
                    "failed at statement 3: undone; the rollback failed as well: cannot rollback - no transaction is "
                    "active",
                    {kTarget, kOther}}),
    CaseName());

TEST_F(HostCorrection, DryRunReportsEachStatementWithItsRowsAndTime) {
    const ProcessResult result = Run({"--dry-run"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReportField(result.out, "plug-in"), PluginPath().string());
    EXPECT_EQ(ReportField(result.out, "connection"), db.path().string());
    EXPECT_EQ(ReportField(result.out, "mode"), "dry run: one transaction, always rolled back");
    const std::vector<std::string> table = ReportTable(result.out);
    const std::vector<std::string> expected = {
        RowPattern("", "", "(begin transaction)"),
        RowPattern("1", "1", kFlagUpdate),
        RowPattern("2", "query", kProbeShown),
        RowPattern("3", "1", kTargetUpdate),
        RowPattern("", "", "(rollback)"),
    };
    ASSERT_EQ(table.size(), expected.size()) << result.out;
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_TRUE(std::regex_match(table[i], std::regex(expected[i]))) << table[i] << "\n  vs " << expected[i];
}

TEST_F(HostCorrection, ReportMarksTheFailingStatementAndWhatWasNotSent) {
    db.Exec(TriggerRaising("SSSS014", "ABORT, 'frozen'"));
    const ProcessResult result = Run({"--transaction"});
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> table = ReportTable(result.out);
    ASSERT_EQ(table.size(), 3u) << result.out;
    EXPECT_TRUE(std::regex_match(table[1], std::regex(RowPattern("1", "failed", kFlagUpdate)))) << table[1];
    EXPECT_TRUE(std::regex_match(table[2], std::regex(RowPattern("", "", "(rollback)")))) << table[2];
    EXPECT_EQ(Lines(result.err).front(), "frozen") << "the database's message, unchanged, on standard error";
}

TEST_F(HostCorrection, UnopenableDatabaseReportsThatNothingWasSent) {
    const auto missing = dir / "typo.db";
    const ProcessResult result = Run({"--transaction"}, missing.string());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(ReportTable(result.out).empty());
    EXPECT_NE(result.out.find("\nnothing was sent to the database\n"), std::string::npos) << result.out;
    EXPECT_EQ(ReportField(result.out, "outcome"),
              "failed before any statement: unable to open database file: " + missing.string() +
                  "; nothing was changed");
}

// A reader that keeps its read transaction open stops the commit from
// taking the lock it needs; the host must not call that success.
TEST_F(HostCorrection, CommitThatFailsIsRolledBackAndExitsOne) {
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(db.path().c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM GZS007;", nullptr, nullptr, nullptr), SQLITE_OK);
    const ProcessResult result =
        Run({"--transaction"}, "sqlite:Database=" + db.path().string() + ";BusyTimeout=100");
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);

    EXPECT_EQ(result.exitCode, 1) << result.out;
    EXPECT_EQ(ReportField(result.out, "outcome"),
              "the commit failed: database is locked; rolled back, the database is unchanged");
    const std::vector<std::string> table = ReportTable(result.out);
    ASSERT_EQ(table.size(), 6u) << result.out;
    EXPECT_TRUE(std::regex_match(table[4], std::regex(RowPattern("", "failed", "(commit)")))) << table[4];
    EXPECT_EQ(db.Rows(), (std::vector<Row>{kTarget, kOther}));
}

TEST_F(HostCorrection, TraceShowsEachStatementOnStandardErrorAsSent) {
    const ProcessResult result = Run({"--trace", "--transaction"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Lines(result.err), (std::vector<std::string>{"trace: (begin transaction)", std::string("trace: ") + kFlagUpdate,
                                                           "trace: " + kProbeShown,
                                                           std::string("trace: ") + kTargetUpdate, "trace: (commit)"}));
    EXPECT_EQ(ReportTable(result.out).size(), 5u) << "the report is still printed";
}

TEST_F(HostCorrection, QuietPrintsNoReportButStillTheError) {
    const ProcessResult applied = Run({"--quiet"});
    EXPECT_EQ(applied.exitCode, 0);
    EXPECT_EQ(applied.out, "");
    EXPECT_EQ(applied.err, "");
    EXPECT_EQ(db.Rows(), (std::vector<Row>{kTargetCorrected, kOther}));

    db.Exec(kRefuseSecond);
    const ProcessResult failed = Run({"--quiet", "--trace"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
    const std::vector<std::string> err = Lines(failed.err);
    ASSERT_EQ(err.size(), 5u) << failed.err;
    EXPECT_EQ(err[3], "no, not today") << "after the three traced statements";
}

// A password given in the connection string never reaches the output: not
// in the report's connection line, not where the database quotes it.
TEST_F(HostCorrection, NoPasswordInAnyOutput) {
    const std::string secret = "hunter2-s3cret";
    db.Exec(TriggerRaising("GZS007006", ("ABORT, 'refused for " + secret + "'").c_str()));
    const std::string connection = "sqlite:Database=" + db.path().string() + ";PWD=" + secret + ";BusyTimeout=100";
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--trace"}, std::vector<std::string>{"--dry-run", "--trace"}}) {
        const ProcessResult result = Run(options, connection);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out.find(secret), std::string::npos) << result.out;
        EXPECT_EQ(result.err.find(secret), std::string::npos) << result.err;
        EXPECT_EQ(ReportField(result.out, "connection"),
                  "sqlite:Database=" + db.path().string() + ";PWD=***;BusyTimeout=100");
        EXPECT_NE(result.err.find("refused for ***"), std::string::npos) << result.err;
    }
    const ProcessResult unusable =
        Run({}, "sqlite:Database=" + db.path().string() + ";Password={" + secret + "};BusyTimeout=soon");
    EXPECT_EQ(unusable.exitCode, 2);
    EXPECT_EQ(unusable.err.find(secret), std::string::npos) << unusable.err;
}

// A message from the database cannot move the terminal's cursor or clear
// its screen: control characters come out written as escapes.
TEST_F(HostCorrection, ControlCharactersInMessagesAreWrittenOut) {
    db.Exec(TriggerRaising("GZS007006", "ABORT, 'bad\x1b[2Jnews\r'"));
    const ProcessResult result = Run({});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Lines(result.err).front(), "bad\\x1b[2Jnews\\r");
    EXPECT_EQ(ReportField(result.out, "outcome").substr(0, 40), "failed at statement 3: bad\\x1b[2Jnews\\r;");
    EXPECT_EQ((result.out + result.err).find_first_of("\x1b\r"), std::string::npos);
}

}  // namespace
