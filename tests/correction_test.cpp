// What the correction does to GZS007, and exactly what it sends, on real
// SQLite files through the plug-in loaded as the host loads it.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

using namespace testsupport;

namespace {

constexpr const char* kOtherGuid = "A520000000000000GZU011011_014";

Row Target(std::optional<std::int64_t> gzs007006 = 1, const char* flag = "B") {
    return Row{kTargetGuid, kGroup, flag, kParent, gzs007006, 0};
}

// A row other than the target that carries the probed pair.
Row OtherMatch(std::optional<std::string> guid = kOtherGuid) {
    return Row{std::move(guid), kGroup, "B", kParent, 1, 0};
}

Row WithFlag(Row row, std::optional<std::int64_t> ssss014) {
    row.ssss014 = ssss014;
    return row;
}

Row With006(Row row, std::optional<std::int64_t> gzs007006) {
    row.gzs007006 = gzs007006;
    return row;
}

struct EffectCase {
    const char* name;
    std::vector<Row> before;
    std::vector<Row> after;
    bool secondUpdateSent;
};

std::vector<EffectCase> EffectCases() {
    const Row flagA{"G-A", "X", "A", "P", 5, 0};
    const Row flagB{"G-B", "X", "B", "P", 5, 0};
    const Row flagLower{"G-a", "X", "a", "P", 5, 0};
    const Row flagSpace{"G-A-space", "X", "A ", "P", 5, 0};
    const Row flagNull{"G-null", "X", std::nullopt, "P", 5, 0};
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
        {"OtherMatchWithNullGuidDoesNotCount", {Target(3), OtherMatch(std::nullopt)}, {Target(3), OtherMatch(std::nullopt)}, false},
        {"PairDifferingInCaseOrSpaceDoesNotCount",
         {Target(3), Row{"G1", "gzu011011", "B", kParent, 1, 0}, Row{"G2", kGroup, "B", std::string(kParent) + " ", 1, 0},
          Row{"G3", kGroup, "B", std::nullopt, 1, 0}},
         {Target(3), Row{"G1", "gzu011011", "B", kParent, 1, 0}, Row{"G2", kGroup, "B", std::string(kParent) + " ", 1, 0},
          Row{"G3", kGroup, "B", std::nullopt, 1, 0}},
         false},
        {"ProbeFindsRowsButTargetAbsent", {OtherMatch(), flagA}, {OtherMatch(), WithFlag(flagA, -1)}, true},
        {"TargetFlaggedAndResetInOneCall",
         {Target(9, "A"), OtherMatch()},
         {WithFlag(With006(Target(9, "A"), 0), -1), OtherMatch()},
         true},
        {"EmptyTable", {}, {}, false},
    };
}

class CorrectionEffect : public ::testing::TestWithParam<EffectCase> {};

TEST_P(CorrectionEffect, TableAfterCallAndStatementsSent) {
    const EffectCase& c = GetParam();
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert(c.before);
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    StatementLog log(connection);

    plugin.Call(&connection);

    EXPECT_EQ(db.Rows(), c.after);
    std::vector<std::string> expected{kFlagUpdate, kProbe};
    if (c.secondUpdateSent) expected.push_back(kTargetUpdate);
    EXPECT_EQ(log.texts(), expected);
    EXPECT_EQ(connection.DataSetCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Gzs007, CorrectionEffect, ::testing::ValuesIn(EffectCases()), CaseName());

TEST(CorrectionTexts, OnlyTheProbeEndsInCrLfAndEachStartsWithOneSpace) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert({Target(), OtherMatch()});
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    StatementLog log(connection);

    plugin.Call(&connection);

    ASSERT_EQ(log.texts().size(), 3u);
    for (const std::string& text : log.texts()) {
        EXPECT_EQ(text.front(), ' ') << text;
        EXPECT_NE(text[1], ' ') << text;
        EXPECT_EQ(text.find(';'), std::string::npos) << text;
    }
    EXPECT_EQ(log.texts()[1].substr(log.texts()[1].size() - 2), "\r\n");
    EXPECT_EQ(log.texts()[0].find('\r'), std::string::npos);
    EXPECT_EQ(log.texts()[2].find('\r'), std::string::npos);
}

// The text and the 32-bit argument never change what the call does.
struct ArgumentCase {
    const char* name;
    const char* text;
    std::int32_t value;
};

class IgnoredArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(IgnoredArguments, SameStatementsAndSameEffect) {
    const ArgumentCase& c = GetParam();
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert({Target(4, "A"), OtherMatch()});
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    StatementLog log(connection);

    plugin.Call(&connection, c.text, c.value);

    EXPECT_EQ(log.texts(), (std::vector<std::string>{kFlagUpdate, kProbe, kTargetUpdate}));
    EXPECT_EQ(db.Rows(), (std::vector<Row>{WithFlag(With006(Target(4, "A"), 0), -1), OtherMatch()}));
}

INSTANTIATE_TEST_SUITE_P(Arguments, IgnoredArguments,
                         ::testing::Values(ArgumentCase{"EmptyText", "", 0}, ArgumentCase{"NullText", nullptr, 0},
                                           ArgumentCase{"QuoteText", "x' OR '1'='1", 1},
                                           ArgumentCase{"Int32Min", "GZS007", INT32_MIN},
                                           ArgumentCase{"Int32Max", "\xff\xfe", INT32_MAX}), CaseName());

// Repeating the correction changes nothing further.
TEST(CorrectionRepeat, SecondCallLeavesTableAsFirstLeftIt) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert({Target(4, "A"), OtherMatch(), Row{"G-A", "X", "A", "P", 5, 0}});
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());

    plugin.Call(&connection);
    const std::vector<Row> afterFirst = db.Rows();
    plugin.Call(&connection);

    EXPECT_EQ(db.Rows(), afterFirst);
}

}  // namespace
