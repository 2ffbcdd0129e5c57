// Faults raised by the database itself while the correction runs: a write
// lock held by another process, triggers and a computed column that fail
// part-way through a statement, and a database that fills up. Each case
// checks what stayed applied and what the host caught, and prints the
// latter.

#include "TestSupport.h"

#include <dataaccess/DatabaseError.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>

using namespace testsupport;

namespace {

using std::chrono::milliseconds;

// What the host saw of a call that failed.
struct FailedCall {
    std::string message;
    long code = 0;
    std::string statement;
    std::vector<std::string> sent;
    std::size_t queriesLeft = 0;
};

// Calls the plug-in on a fresh host connection and catches its failure.
FailedCall CallExpectingFailure(const std::string& connectionString, const char* caseName) {
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(connectionString);
    StatementLog log(connection);
    FailedCall call;
    try {
        plugin.Call(&connection);
        ADD_FAILURE() << "the call succeeded";
    } catch (const dataaccess::DatabaseError& error) {
        call.message = error.what();
        call.code = error.code();
        call.statement = error.statement();
    }
    call.sent = log.texts();
    call.queriesLeft = connection.DataSetCount();
    std::cout << "[ fault    ] " << caseName << ": the host caught \"" << call.message << "\" (code " << call.code
              << ") after " << call.sent.size() << " statement(s), from:"
              << call.statement.substr(0, call.statement.find_last_not_of("\r\n") + 1) << '\n';
    return call;
}

void ExpectRefusal(const FailedCall& call, const char* message, long code, std::vector<std::string> sent) {
    EXPECT_EQ(call.message, message);
    EXPECT_EQ(call.code, code);
    EXPECT_EQ(call.sent, sent) << "nothing after the failing statement may be sent";
    if (!call.sent.empty()) {
        EXPECT_EQ(call.statement, call.sent.back());
    }
    EXPECT_EQ(call.queriesLeft, 0u);
}

std::string TextOf(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
    std::string text;
    if (sqlite3_step(statement) == SQLITE_ROW) text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    return text;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

const Row kFlagged{"G-A", "X", "A", "P", 5, 0};
const Row kTarget{kTargetGuid, kGroup, "B", kParent, 7, 0};
const Row kOther{"G-other", kGroup, "B", kParent, 1, 0};

Row Applied(Row row) {
    if (row.gzs007004 == "A") row.ssss014 = -1;
    if (row.guid == kTargetGuid) row.gzs007006 = 0;
    return row;
}

// ---------------------------------------------------------------------------
// A write lock held by another process.

// A child process that opens the database, takes the write lock with
// BEGIN IMMEDIATE, runs `sql` inside that transaction, and then holds the
// lock: for `holdFor` and then commits, or, without it, until Release.
class LockHolder {
public:
    LockHolder(const std::filesystem::path& path, const std::string& sql, std::optional<milliseconds> holdFor) {
        int ready[2], command[2];
        if (pipe(ready) != 0 || pipe(command) != 0) throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            close(ready[0]);
            close(command[1]);
            _exit(HoldLock(path, sql, holdFor, ready[1], command[0]));
        }
        close(ready[1]);
        close(command[0]);
        command_ = command[1];
        char byte = 0;
        const bool locked = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        if (!locked) {
            Wait();
            throw std::runtime_error("the lock holder could not take the lock");
        }
    }

    ~LockHolder() {
        if (pid_ > 0) Release(false);
    }

    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // Ends the holder's transaction (committing or rolling back) and waits
    // for it to exit; answers whether that went as asked.
    bool Release(bool commit) {
        const char byte = commit ? 'c' : 'r';
        [[maybe_unused]] const ssize_t written = write(command_, &byte, 1);
        return Wait();
    }

    // Waits for the holder to exit; true when it ended its transaction cleanly.
    bool Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        close(command_);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    static int HoldLock(const std::filesystem::path& path, const std::string& sql,
                        std::optional<milliseconds> holdFor, int ready, int command) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return 1;
        if (sqlite3_exec(db, ("BEGIN IMMEDIATE; " + sql).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return 2;
        if (write(ready, "x", 1) != 1) return 3;
        pollfd waitFor{command, POLLIN, 0};
        char byte = 'c';
        const int timeout = holdFor ? static_cast<int>(holdFor->count()) : -1;
        if (poll(&waitFor, 1, timeout) > 0 && read(command, &byte, 1) != 1) byte = 'r';
        const int rc = sqlite3_exec(db, byte == 'c' ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc == SQLITE_OK ? 0 : 4;
    }

    pid_t pid_ = -1;
    int command_ = -1;
};

class LockedDatabase : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};
    // Written by the other process inside its transaction.
    const std::string lateRow =
        "INSERT INTO GZS007 (GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014)"
        " VALUES ('G-late', 'X', 'A', 'P', 5, 0);";

    void SetUp() override { db.Insert({kFlagged, kTarget, kOther}); }
    std::string WithBusyTimeout(int ms) const {
        return "sqlite:Database=" + db.path().string() + ";BusyTimeout=" + std::to_string(ms);
    }
};

// The call waits out a lock shorter than its busy timeout and then runs:
// the row the other process committed meanwhile is flagged too, so the
// first update ran after that commit.
TEST_F(LockedDatabase, LockShorterThanBusyTimeoutIsWaitedOut) {
    LockHolder holder(db.path(), lateRow, milliseconds(300));
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(WithBusyTimeout(20000));
    plugin.Call(&connection);
    EXPECT_TRUE(holder.Wait()) << "the other process could not commit";

    const Row late{"G-late", "X", "A", "P", 5, 0};
    EXPECT_EQ(db.Rows(), (std::vector<Row>{Applied(kFlagged), Applied(kTarget), kOther, Applied(late)}));
}

// A lock longer than the busy timeout fails the first update with SQLite's
// own message, after waiting the whole timeout; nothing is changed.
TEST_F(LockedDatabase, LockLongerThanBusyTimeoutFailsWithNothingChanged) {
    const auto before = db.Rows();
    LockHolder holder(db.path(), lateRow, std::nullopt);
    const auto start = std::chrono::steady_clock::now();
    const FailedCall call = CallExpectingFailure(WithBusyTimeout(250), "LockLongerThanBusyTimeout");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(holder.Release(false));

    ExpectRefusal(call, "database is locked", SQLITE_BUSY, {kFlagUpdate});
    EXPECT_GE(waited, milliseconds(200)) << "the call gave up before its busy timeout";
    EXPECT_EQ(db.Rows(), before);
}

// ---------------------------------------------------------------------------
// Each of the three statements failing in turn, part-way through.
//
// Here GZS007 is a view over a store of rows, as some hosts keep it: its
// GZS007005 is read out of a JSON document, and updates are written
// through to the store by an INSTEAD OF trigger. SQLite has no triggers on
// SELECT, so the probe's fault is the nearest real one: a document that no
// longer parses, which raises "malformed JSON" when the probe evaluates
// that row's GZS007005. The updates never evaluate it, since they name no
// column computed from it.
//
// The store's rows are scanned in rid order, so a trigger refusing a later
// row fires after earlier rows of the same statement were written through:
// the whole statement must then be undone, never half of it.

const char* const kViewSchema = R"(
CREATE TABLE store (rid INTEGER PRIMARY KEY, GUID TEXT, GZS007002 TEXT, GZS007004 TEXT, document TEXT,
                    GZS007006 INTEGER, SSSS014 INTEGER);
CREATE VIEW GZS007 AS
  SELECT rid, GUID, GZS007002, GZS007004, json_extract(document, '$.parent') AS GZS007005, GZS007006, SSSS014
  FROM store;
CREATE TRIGGER write_through INSTEAD OF UPDATE ON GZS007 BEGIN
  UPDATE store SET GZS007006 = NEW.GZS007006, SSSS014 = NEW.SSSS014 WHERE rid = OLD.rid;
END;
INSERT INTO store VALUES
  (1, 'G-A1', 'X', 'A', '{"parent":"P"}', 5, 0),
  (2, 'A520000000000000GZU011011_013', 'GZU011011', 'B', '{"parent":"A520000000000000GZSSYS002_002"}', 7, 0),
  (3, 'G-A2', 'X', 'A', '{"parent":"P"}', 5, 0),
  (4, 'G-A3', 'X', 'A', '{"parent":"P"}', 5, 0),
  (5, 'G-other', 'GZU011011', 'B', '{"parent":"A520000000000000GZSSYS002_002"}', 1, 0),
  (6, 'A520000000000000GZU011011_013', 'GZU011011', 'B', '{"parent":"A520000000000000GZSSYS002_002"}', 3, 0);
)";

// GUID, GZS007006 and SSSS014 of each stored row, in rid order.
struct Stored {
    std::string guid;
    std::int64_t gzs007006;
    std::int64_t ssss014;
    bool operator==(const Stored& o) const {
        return guid == o.guid && gzs007006 == o.gzs007006 && ssss014 == o.ssss014;
    }
};
std::ostream& operator<<(std::ostream& out, const Stored& s) {
    return out << '{' << s.guid << ' ' << s.gzs007006 << ' ' << s.ssss014 << '}';
}

std::vector<Stored> StoredRows(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT GUID, GZS007006, SSSS014 FROM store ORDER BY rid", -1, &statement, nullptr);
    std::vector<Stored> rows;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        rows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                        sqlite3_column_int64(statement, 1), sqlite3_column_int64(statement, 2)});
    }
    sqlite3_finalize(statement);
    return rows;
}

// The store after the steps that stayed applied.
std::vector<Stored> StoreAfter(bool flagged, bool targetsReset) {
    const std::int64_t flag = flagged ? -1 : 0;
    return {{"G-A1", 5, flag},
            {kTargetGuid, targetsReset ? 0 : 7, 0},
            {"G-A2", 5, flag},
            {"G-A3", 5, flag},
            {"G-other", 1, 0},
            {kTargetGuid, targetsReset ? 0 : 3, 0}};
}

struct StepFault {
    const char* name;
    std::string fault;  // run after kViewSchema
    const char* message;
    long code;
    std::vector<std::string> sent;
    bool flagged;  // the first update stayed applied
};

std::vector<StepFault> StepFaults() {
    return {
        {"FirstUpdateRefusedAtItsThirdRow",
         "CREATE TRIGGER refuse_flag INSTEAD OF UPDATE ON GZS007 WHEN OLD.GUID = 'G-A3'"
         " BEGIN SELECT RAISE(ABORT, 'G-A3 is archived'); END;",
         "G-A3 is archived", SQLITE_CONSTRAINT_TRIGGER, {kFlagUpdate}, false},
        {"ProbeMeetsBrokenDocument",
         // G-other is the row the probe would find; it never gets that far.
         "UPDATE store SET document = '{\"parent\": ' WHERE GUID = 'G-other';", "malformed JSON", SQLITE_ERROR,
         {kFlagUpdate, kProbe}, true},
        {"SecondUpdateRefusedAtItsSecondRow",
         "CREATE TRIGGER refuse_target INSTEAD OF UPDATE ON GZS007 WHEN OLD.rid = 6"
         " BEGIN SELECT RAISE(ABORT, 'row 6 is locked for review'); END;",
         "row 6 is locked for review", SQLITE_CONSTRAINT_TRIGGER, {kFlagUpdate, kProbe, kTargetUpdate}, true},
    };
}

class FaultInStep : public ::testing::TestWithParam<StepFault> {};

TEST_P(FaultInStep, StatementUndoneWholeEarlierStepsKept) {
    const StepFault& c = GetParam();
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kViewSchema);
    db.Exec(c.fault);

    const FailedCall call = CallExpectingFailure(db.path().string(), c.name);

    ExpectRefusal(call, c.message, c.code, c.sent);
    EXPECT_EQ(StoredRows(db.handle()), StoreAfter(c.flagged, false));
}

INSTANTIATE_TEST_SUITE_P(ViewOverStore, FaultInStep, ::testing::ValuesIn(StepFaults()), CaseName());

// Without a fault the same view is corrected like a table, so the faults
// above come from the faults alone.
TEST(FaultInStepControl, ViewWithoutFaultIsCorrected) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kViewSchema);
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    plugin.Call(&connection);
    EXPECT_EQ(StoredRows(db.handle()), StoreAfter(true, true));
}

// ---------------------------------------------------------------------------
// A database that becomes full: the connection's page limit (MaxPageCount)
// reached, which SQLite reports exactly as a full disk.

class FullDatabase : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};

    std::int64_t Pages() const { return db.Count("PRAGMA page_count"); }
    std::string WithPageLimit(std::int64_t pages) const {
        return "sqlite:Database=" + db.path().string() + ";MaxPageCount=" + std::to_string(pages);
    }
};

// Rows appended in order fill their pages. Flagging them makes each one a
// byte longer (0 is stored in no bytes, -1 in one), so pages split and the
// file must grow: two pages of room let the update write some rows and then
// fail. SQLite undoes the whole statement.
TEST_F(FullDatabase, FullDuringFirstUpdateUndoesAllOfIt) {
    db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
            " INSERT INTO GZS007 (GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014)"
            " SELECT 'G-' || i, 'X', 'A', 'P', 5, 0 FROM n;");
    db.Insert({kTarget, kOther});
    const std::int64_t pagesBefore = Pages();

    const FailedCall call = CallExpectingFailure(WithPageLimit(pagesBefore + 2), "FullDuringFirstUpdate");

    ExpectRefusal(call, "database or disk is full", SQLITE_FULL, {kFlagUpdate});
    EXPECT_EQ(db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014 <> 0"), 0);
    EXPECT_EQ(db.Count("SELECT GZS007006 FROM GZS007 WHERE GUID = " + Quoted(kTargetGuid)), 7);
    EXPECT_EQ(TextOf(db.handle(), "PRAGMA integrity_check"), "ok");

    // The limit is the connection's alone: once given room, the same call
    // succeeds, and the file grows further than the limit allowed.
    LoadedPlugin plugin;
    dataaccess::DbConnection unlimited(db.path().string());
    plugin.Call(&unlimited);
    EXPECT_EQ(db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014 = -1"), 20000);
    EXPECT_GT(Pages(), pagesBefore + 2);
}

// An audit trigger stores a large record for each change of GZS007006. The
// first update fits in the room its pages have; the audit record needs new
// pages, so the second update fails and the first stays applied.
TEST_F(FullDatabase, FullDuringSecondUpdateKeepsTheFirst) {
    db.Exec("CREATE TABLE audit (guid TEXT, detail BLOB);"
            "CREATE TRIGGER audit_006 AFTER UPDATE OF GZS007006 ON GZS007"
            " BEGIN INSERT INTO audit VALUES (NEW.GUID, zeroblob(20000)); END;");
    db.Insert({kFlagged, kTarget, kOther});

    const FailedCall call = CallExpectingFailure(WithPageLimit(Pages()), "FullDuringSecondUpdate");

    ExpectRefusal(call, "database or disk is full", SQLITE_FULL, {kFlagUpdate, kProbe, kTargetUpdate});
    EXPECT_EQ(db.Rows(), (std::vector<Row>{Applied(kFlagged), kTarget, kOther}));
    EXPECT_EQ(db.Count("SELECT count(*) FROM audit"), 0);
}

TEST_F(FullDatabase, PageLimitMustBeAPositiveWholeNumber) {
    for (const char* bad : {"0", "-3", "many", "", "10pages", "99999999999"}) {
        dataaccess::DbConnection connection("sqlite:Database=" + db.path().string() + ";MaxPageCount=" + bad);
        EXPECT_THROW(connection.Open(), std::invalid_argument) << bad;
    }
    dataaccess::DbConnection connection(WithPageLimit(1));  // below the file's size: SQLite keeps the size
    EXPECT_NO_THROW(connection.Execute(u"update GZS007 set SSSS014 = 0"));
}

}  // namespace
