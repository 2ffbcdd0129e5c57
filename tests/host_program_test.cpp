// editdb-host run as a user runs it: exit codes, messages, and the effect
// on a real database file.

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const Row kTarget{kTargetGuid, kGroup, "A", kParent, 7, 0};
const Row kOther{"G-other", kGroup, "B", kParent, 1, 0};

class HostProgram : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};

    void SetUp() override { db.Insert({kTarget, kOther}); }

    ProcessResult Run(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), HostPath().string());
        return RunProcess(arguments);
    }
    bool Unchanged() const { return db.Rows() == std::vector<Row>{kTarget, kOther}; }
};

TEST_F(HostProgram, AppliesTheCorrection) {
    const ProcessResult result = Run({"--text", "anything", "--value=-7", PluginPath().string(), db.path().string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(db.Rows(), (std::vector<Row>{Row{kTargetGuid, kGroup, "A", kParent, 0, -1}, kOther}));
}

TEST_F(HostProgram, FailedStepExitsOneWithTheDatabasesMessage) {
    db.Exec("CREATE TRIGGER refuse BEFORE UPDATE OF GZS007006 ON GZS007 BEGIN SELECT RAISE(ABORT, 'no, not today'); END;");
    const ProcessResult result = Run({PluginPath().string(), db.path().string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), "no, not today");
    EXPECT_NE(result.err.find("update GZS007 set GZS007006=0"), std::string::npos) << result.err;
    EXPECT_EQ(db.Count("SELECT SSSS014 FROM GZS007 WHERE GUID='" + std::string(kTargetGuid) + "'"), -1)
        << "the first update stays applied";
}

TEST_F(HostProgram, UnopenableDatabaseExitsOneAndCreatesNothing) {
    const auto missing = dir / "typo.db";
    const ProcessResult result = Run({PluginPath().string(), missing.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "unable to open database file: " + missing.string() + "\n");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;  // "@plugin" and "@db" stand for the real ones
    const char* messagePart;
};

class HostUsage : public HostProgram, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(HostUsage, ExitsTwoWithAClearMessageAndRunsNothing) {
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().arguments) {
        if (argument == "@plugin") arguments.push_back(PluginPath().string());
        else if (argument == "@db") arguments.push_back(db.path().string());
        else if (argument == "@dataaccess") arguments.push_back(DataAccessLibraryPath().string());
        else if (argument == "@badtimeout") arguments.push_back("sqlite:Database=" + db.path().string() + ";BusyTimeout=soon");
        else arguments.push_back(argument);
    }
    const ProcessResult result = Run(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "") << "no report: nothing was run";
    EXPECT_NE(result.err.find(GetParam().messagePart), std::string::npos) << result.err;
    EXPECT_TRUE(Unchanged());
}

INSTANTIATE_TEST_SUITE_P(
    Errors, HostUsage,
    ::testing::Values(UsageCase{"NoArguments", {}, "expected PLUGIN and CONNECTION"},
                      UsageCase{"OneArgument", {"@plugin"}, "expected PLUGIN and CONNECTION"},
                      UsageCase{"UnknownOption", {"--dry", "@plugin", "@db"}, "unknown option '--dry'"},
                      UsageCase{"ValueNotANumber", {"--value", "ten", "@plugin", "@db"}, "--value takes a whole number"},
                      UsageCase{"ValueTooLarge", {"--value", "2147483648", "@plugin", "@db"}, "--value takes a whole number"},
                      UsageCase{"ValueMissing", {"@plugin", "@db", "--value"}, "--value needs a value"},
                      UsageCase{"PluginMissing", {"/nonexistent/libfix.so", "@db"}, "cannot load plug-in"},
                      UsageCase{"PluginIsNotALibrary", {"@db", "@db"}, "cannot load plug-in"},
                      UsageCase{"PluginLacksExport", {"@dataaccess", "@db"}, "has no export Exec_EditDb"},
                      UsageCase{"MisspelledSwitch", {"--transactions", "@plugin", "@db"}, "unknown option '--transactions'"},
                      UsageCase{"ShortOption", {"-n", "@plugin", "@db"}, "unknown option '-n'"},
                      UsageCase{"SwitchGivenAValue", {"--dry-run=yes", "@plugin", "@db"}, "--dry-run takes no value"},
                      UsageCase{"QuietGivenAValue", {"--quiet=0", "@plugin", "@db"}, "--quiet takes no value"},
                      UsageCase{"HelpWithUnknownOption", {"--help", "--verbose"}, "unknown option '--verbose'"},
                      UsageCase{"TransactionWithoutDatabase", {"--transaction", "@plugin"}, "expected PLUGIN and CONNECTION"},
                      UsageCase{"UnusableConnectionString", {"--transaction", "@plugin", "@badtimeout"}, "BusyTimeout must be"}),
    CaseName());

TEST_F(HostProgram, HelpNamesEveryOptionAndExitStatus) {
    const ProcessResult result = Run({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("usage: editdb-host"), std::string::npos);
    for (const char* part : {"--dry-run", "--transaction", "--quiet", "--trace", "--text TEXT", "--value N", "--help",
                             "--version", "  0  the correction was applied", "  1  the correction failed",
                             "  2  usage error"})
        EXPECT_NE(result.out.find(part), std::string::npos) << part;
}

TEST_F(HostProgram, VersionExitsZeroAndRunsNothing) {
    const ProcessResult result = Run({"--version", PluginPath().string(), db.path().string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "editdb-host " EDITDB_TEST_VERSION "\n");
    EXPECT_TRUE(Unchanged());
}

}  // namespace
