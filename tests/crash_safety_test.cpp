// The host program killed with SIGKILL in the middle of the first update
// of a large table. Whatever the moment, the database must come back whole
// (PRAGMA integrity_check) with that update applied to every row or to
// none, and the correction must then run again as on any other day.

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>

extern char** environ;

using namespace testsupport;

namespace {

// Enough rows that the first update takes a good part of a second, and its
// changed pages outgrow SQLite's page cache: by the time the kill comes,
// some of them have been written into the database file itself.
constexpr std::int64_t kRows = 500000;
constexpr std::uintmax_t kKillAfterBytes = 8u << 20;  // of journal or WAL, four times the default cache

// A program started in the background, its output sent to a file; killed
// and reaped on destruction if still running.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::filesystem::path& output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
    }

    ~BackgroundProcess() {
        if (pid_ > 0) Kill();
    }

    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Whether it has already ended on its own (and is then reaped).
    bool Ended() {
        if (waitpid(pid_, &status_, WNOHANG) != pid_) return false;
        pid_ = -1;
        return true;
    }

    // SIGKILL, then reaps it; answers whether the signal is what ended it.
    bool Kill() {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
        return WIFSIGNALED(status_) && WTERMSIG(status_) == SIGKILL;
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

std::uintmax_t SizeOrZero(const std::filesystem::path& path) {
    std::error_code missing;
    const auto size = std::filesystem::file_size(path, missing);
    return missing ? 0 : size;
}

std::string IntegrityCheck(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
    std::string result;
    while (sqlite3_step(statement) == SQLITE_ROW)
        result += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    return result;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CrashCase {
    const char* name;
    const char* journalMode;
    const char* journalSuffix;  // the file that shows the update has started
    // With a rollback journal, pages that overflow the cache are written
    // into the database file before the commit, which the journal must then
    // undo; a WAL leaves the database file alone until a checkpoint.
    bool databaseFileWrittenBeforeCommit;
};

class CrashDuringFirstUpdate : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashDuringFirstUpdate, DatabaseWholeAndUpdateAllOrNothing) {
    const CrashCase& c = GetParam();
    TempDir dir;
    const auto path = dir / "large.db";
    const std::filesystem::path journal = path.string() + c.journalSuffix;
    {
        SqliteFile db(path, std::string("PRAGMA journal_mode = ") + c.journalMode + ";" + kGzs007Schema);
        db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kRows) +
                ") INSERT INTO GZS007 (GUID, GZS007002, GZS007003, GZS007004, GZS007005, GZS007006, SSSS014)"
                " SELECT 'G-' || i, 'X', printf('%.100c', '.'), 'A', 'P', 5, 0 FROM n;");
        db.Insert({Row{kTargetGuid, kGroup, "B", kParent, 7, 0}, Row{"G-other", kGroup, "B", kParent, 1, 0}});
    }
    ASSERT_EQ(SizeOrZero(journal), 0u) << "the setup left a journal behind";

    const auto writtenAtSetup = std::filesystem::last_write_time(path);
    const auto output = dir / "host-output.txt";
    BackgroundProcess host({HostPath().string(), PluginPath().string(), path.string()}, output);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (SizeOrZero(journal) < kKillAfterBytes && !host.Ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::uintmax_t journalAtKill = SizeOrZero(journal);
    ASSERT_TRUE(host.Kill()) << "the host ended before it could be killed; its output:\n" << ReadFile(output);
    ASSERT_GE(journalAtKill, kKillAfterBytes) << "killed before the update had got far";
    EXPECT_EQ(std::filesystem::last_write_time(path) != writtenAtSetup, c.databaseFileWrittenBeforeCommit);

    SqliteFile db(path, "");
    EXPECT_EQ(IntegrityCheck(db.handle()), "ok");
    const std::int64_t flagged = db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014 = -1");
    const std::int64_t untouched = db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014 = 0");
    EXPECT_TRUE((flagged == kRows && untouched == 2) || (flagged == 0 && untouched == kRows + 2))
        << flagged << " rows flagged, " << untouched << " not: the update was applied in part";
    EXPECT_EQ(db.Count("SELECT GZS007006 FROM GZS007 WHERE GUID = '" + std::string(kTargetGuid) + "'"), 7)
        << "the second update cannot have run";
    std::cout << "[ crash    ] " << c.journalMode << ": killed with " << (journalAtKill >> 20) << " MiB in "
              << journal.filename() << "; afterwards integrity ok, first update applied to " << flagged << " of "
              << kRows << " 'A' rows\n";

    // The next run of the host corrects the table in full.
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(path.string());
    plugin.Call(&connection);
    EXPECT_EQ(db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014 = -1"), kRows);
    EXPECT_EQ(db.Count("SELECT GZS007006 FROM GZS007 WHERE GUID = '" + std::string(kTargetGuid) + "'"), 0);
    EXPECT_EQ(IntegrityCheck(db.handle()), "ok");
}

INSTANTIATE_TEST_SUITE_P(JournalModes, CrashDuringFirstUpdate,
                         ::testing::Values(CrashCase{"RollbackJournal", "DELETE", "-journal", true},
                                           CrashCase{"WriteAheadLog", "WAL", "-wal", false}),
                         CaseName());

}  // namespace
