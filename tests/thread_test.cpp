// Several host threads at once, each with its own connection and database
// file, each loading the plug-in and calling Exec_EditDb over and over:
// the plug-in has no state to share, so every database must end as if it
// had been corrected alone, and every connection must have been sent its
// own statements and nothing else.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

using namespace testsupport;

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 50;

// Thread `index` gets its own rows: index + 1 flagged rows, and another row
// with the probed pair only when the index is even, so that neighbours
// expect different outcomes.
std::vector<Row> RowsOf(int index) {
    std::vector<Row> rows{Row{kTargetGuid, kGroup, "B", kParent, 7, 0}};
    for (int i = 0; i <= index; ++i)
        rows.push_back(Row{"G-" + std::to_string(index) + "-" + std::to_string(i), "X", "A", "P", 5, 0});
    if (index % 2 == 0) rows.push_back(Row{"G-other", kGroup, "B", kParent, 1, 0});
    return rows;
}

std::vector<Row> CorrectedRowsOf(int index) {
    std::vector<Row> rows = RowsOf(index);
    for (Row& row : rows) {
        if (row.gzs007004 == "A") row.ssss014 = -1;
        if (row.guid == kTargetGuid && index % 2 == 0) row.gzs007006 = 0;
    }
    return rows;
}

std::vector<std::string> StatementsOf(int index) {
    std::vector<std::string> sent;
    for (int call = 0; call < kCallsPerThread; ++call) {
        sent.push_back(kFlagUpdate);
        sent.push_back(kProbe);
        if (index % 2 == 0) sent.push_back(kTargetUpdate);
    }
    return sent;
}

// Every thread waits here until all have arrived, so that the calls overlap.
class StartLine {
public:
    explicit StartLine(int count) : waiting_(count) {}
    void ArriveAndWait() {
        waiting_.fetch_sub(1);
        while (waiting_.load() > 0) std::this_thread::yield();
    }

private:
    std::atomic<int> waiting_;
};

// One host thread. Before each call it puts its rows back as they were and
// after it checks them, through a handle of its own; what it finds wrong is
// returned as text.
std::string RunHost(int index, const std::filesystem::path& path, StartLine& start) {
    std::ostringstream problems;
    try {
        SqliteFile db(path, kGzs007Schema);
        LoadedPlugin plugin;
        dataaccess::DbConnection connection(db.path().string());
        StatementLog log(connection);
        start.ArriveAndWait();
        for (int call = 0; call < kCallsPerThread; ++call) {
            db.Exec("DELETE FROM GZS007;");
            db.Insert(RowsOf(index));
            plugin.Call(&connection);
            if (db.Rows() != CorrectedRowsOf(index)) problems << "call " << call << ": wrong rows\n";
            if (connection.DataSetCount() != 0) problems << "call " << call << ": a query left on the connection\n";
        }
        if (log.texts() != StatementsOf(index)) problems << "the connection was sent other statements\n";
    } catch (const std::exception& error) {
        problems << "failed: " << error.what() << '\n';
    }
    return problems.str();
}

TEST(Threads, ConcurrentHostsEachWithItsOwnConnectionEndCorrect) {
    TempDir dir;
    StartLine start(kThreads);
    std::vector<std::string> problems(kThreads);
    std::vector<std::thread> hosts;
    for (int index = 0; index < kThreads; ++index) {
        hosts.emplace_back([&, index] {
            problems[static_cast<std::size_t>(index)] =
                RunHost(index, dir / ("host-" + std::to_string(index) + ".db"), start);
        });
    }
    for (std::thread& host : hosts) host.join();

    for (int index = 0; index < kThreads; ++index) {
        EXPECT_EQ(problems[static_cast<std::size_t>(index)], "") << "thread " << index;
        SqliteFile db(dir / ("host-" + std::to_string(index) + ".db"), "");
        EXPECT_EQ(db.Rows(), CorrectedRowsOf(index)) << "thread " << index;
    }
}

}  // namespace
