// Exactly what the correction sends, on real SQLite files through the
// plug-in loaded as the host loads it. What it does to GZS007 is the case
// table in providers/, run on every provider.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

using namespace testsupport;

namespace {

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
