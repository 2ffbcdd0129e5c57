// editdb-host under Valgrind's memcheck, on a successful call and on each
// way a call can fail: no memory error, and nothing definitely or
// indirectly lost, whichever path the host and the plug-in took. The
// sanitizer build leaves this test out: memcheck cannot run a program built
// with AddressSanitizer.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <regex>

using namespace testsupport;

namespace {

const std::string kRows =
    " INSERT INTO GZS007 (GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014) VALUES"
    " ('G-A', 'X', 'A', 'P', 5, 0),"
    " ('A520000000000000GZU011011_013', 'GZU011011', 'B', 'A520000000000000GZSSYS002_002', 7, 0),"
    " ('G-other', 'GZU011011', 'B', 'A520000000000000GZSSYS002_002', 1, 0);";

struct MemcheckCase {
    const char* name;
    std::optional<std::string> setup;  // no database file at all without it
    bool pluginWithoutExport;          // hand the host a library that is no plug-in
    int exitCode;                      // of the host
    const char* message;               // the first line the host writes on standard error
};

std::vector<MemcheckCase> MemcheckCases() {
    const std::string table = std::string(kGzs007Schema) + kRows;
    return {
        {"Applied", table, false, 0, ""},
        {"FirstUpdateFails", std::string("CREATE TABLE other (x);"), false, 1, "no such table: GZS007"},
        {"ProbeFails", table + " ALTER TABLE GZS007 DROP COLUMN GZS007005;", false, 1, "no such column: GZS007005"},
        {"SecondUpdateFails",
         table + " CREATE TRIGGER refuse BEFORE UPDATE OF GZS007006 ON GZS007"
                 " BEGIN SELECT RAISE(ABORT, 'target is locked'); END;",
         false, 1, "target is locked"},
        {"DatabaseCannotOpen", std::nullopt, false, 1, "unable to open database file"},
        {"PluginLacksExport", table, true, 2, "editdb-host: plug-in"},
    };
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The number memcheck's summary gives after `label`, such as
// "definitely lost:" or "ERROR SUMMARY:"; -1 when the log has no such line.
long long Figure(const std::string& log, const std::string& label) {
    std::smatch match;
    if (!std::regex_search(log, match, std::regex(label + " *([0-9,]+)"))) return -1;
    std::string digits = match[1];
    digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
    return std::stoll(digits);
}

// memcheck reports no "definitely lost" line at all when every block was freed.
long long LostBytes(const std::string& log, const std::string& kind) {
    if (log.find("All heap blocks were freed -- no leaks are possible") != std::string::npos) return 0;
    return Figure(log, kind + " lost:");
}

class HostUnderMemcheck : public ::testing::TestWithParam<MemcheckCase> {};

TEST_P(HostUnderMemcheck, NoErrorAndNothingLost) {
    const MemcheckCase& c = GetParam();
    TempDir dir;
    const auto database = dir / "gzs007.db";
    std::optional<SqliteFile> db;
    if (c.setup) db.emplace(database, *c.setup);
    const auto log = dir / "memcheck.log";

    const ProcessResult result = RunProcess({
        EDITDB_VALGRIND_PATH, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
        "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
        "--log-file=" + log.string(), HostPath().string(),
        (c.pluginWithoutExport ? DataAccessLibraryPath() : PluginPath()).string(), database.string()});
    const std::string report = ReadFile(log);

    EXPECT_EQ(result.exitCode, c.exitCode) << result.err << report;
    EXPECT_EQ(result.err.substr(0, std::string(c.message).size()), c.message) << result.err;
    EXPECT_EQ(Figure(report, "ERROR SUMMARY:"), 0) << report;
    EXPECT_EQ(LostBytes(report, "definitely"), 0) << report;
    EXPECT_EQ(LostBytes(report, "indirectly"), 0) << report;
    std::cout << "[ memcheck ] " << c.name << ": host exit " << result.exitCode << ", "
              << Figure(report, "ERROR SUMMARY:") << " errors, " << Figure(report, "total heap usage:")
              << " allocations, definitely lost " << LostBytes(report, "definitely") << " bytes, indirectly lost "
              << LostBytes(report, "indirectly") << " bytes\n";
}

INSTANTIATE_TEST_SUITE_P(Paths, HostUnderMemcheck, ::testing::ValuesIn(MemcheckCases()), CaseName());

}  // namespace
