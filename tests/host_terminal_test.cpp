// editdb-host's live progress line, through a real pseudo-terminal and
// through a pipe. A statement is made to run long by holding the database
// locked from here; the host waits for the lock (its busy timeout) and
// finishes as soon as it is released.

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <regex>
#include <thread>

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

// The host program running as a child, its standard output and error read
// as they come: both on one new pseudo-terminal, or both into one pipe.
class Child {
public:
    Child(const std::vector<std::string>& argv, bool terminal, unsigned short columns) {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (terminal) {
            winsize size{};
            size.ws_row = 24;
            size.ws_col = columns;
            pid_ = forkpty(&fd_, nullptr, nullptr, &size);
            if (pid_ == 0) {
                execv(args[0], args.data());
                _exit(127);
            }
        } else {
            int fds[2];
            if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
            pid_ = fork();
            if (pid_ == 0) {
                dup2(fds[1], STDOUT_FILENO);
                dup2(fds[1], STDERR_FILENO);
                close(fds[0]);
                close(fds[1]);
                execv(args[0], args.data());
                _exit(127);
            }
            close(fds[1]);
            fd_ = fds[0];
        }
        if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0]);
    }

    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (fd_ >= 0) close(fd_);
    }

    // Reads until `done` holds for what has been read, or the output ends,
    // or `timeout` passes. Answers whether `done` holds.
    bool ReadUntil(const std::function<bool(const std::string&)>& done, std::chrono::seconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!done(output_) && !ended_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) ended_ = true;  // a pseudo-terminal says EIO once the child has gone
            else output_.append(buffer, static_cast<std::size_t>(n));
        }
        return done(output_);
    }
    bool ReadUntil(const std::string& needle, std::chrono::seconds timeout) {
        return ReadUntil([&](const std::string& out) { return out.find(needle) != std::string::npos; }, timeout);
    }
    void ReadToEnd() {
        ReadUntil([&](const std::string&) { return ended_; }, std::chrono::seconds(60));
    }

    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& output() const { return output_; }

private:
    int fd_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    std::string output_;
};

// Holds the database file locked from another connection until released.
class Lock {
public:
    explicit Lock(const std::filesystem::path& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK ||
            sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot lock " + path.string());
    }
    ~Lock() { Release(); }
    void Release() {
        if (!db_) return;
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
};

constexpr const char* kErase = "\r\x1b[K";

// Every progress line drawn: the text after each erase, up to the next CR.
std::vector<std::string> ProgressLines(const std::string& output) {
    std::vector<std::string> lines;
    for (std::size_t at = output.find(kErase); at != std::string::npos; at = output.find(kErase, at + 1)) {
        const std::size_t start = at + 4;
        const std::string line = output.substr(start, output.find('\r', start) - start);
        if (line.rfind("running for", 0) == 0) lines.push_back(line);
    }
    return lines;
}

class HostTerminal : public ::testing::Test {
protected:
    TempDir dir;
    SqliteFile db{dir / "gzs007.db", kGzs007Schema};

    void SetUp() override {
        db.Insert({Row{kTargetGuid, kGroup, "A", kParent, 7, 0}, Row{"G-other", kGroup, "B", kParent, 1, 0}});
    }

    std::vector<std::string> HostCommand(std::vector<std::string> options) const {
        options.insert(options.begin(), HostPath().string());
        options.push_back(PluginPath().string());
        options.push_back("sqlite:Database=" + db.path().string() + ";BusyTimeout=60000");
        return options;
    }
};

TEST_F(HostTerminal, LongStatementShowsALiveLineThatIsWipedWhenItEnds) {
    Lock lock(db.path());
    Child host(HostCommand({}), true, 60);
    // Two drawings: the line is redrawn with the time going on.
    ASSERT_TRUE(host.ReadUntil([](const std::string& out) { return ProgressLines(out).size() >= 2; },
                               std::chrono::seconds(30)))
        << host.output();
    lock.Release();
    host.ReadToEnd();
    EXPECT_EQ(host.Wait(), 0) << host.output();

    const std::string& out = host.output();
    const std::vector<std::string> lines = ProgressLines(out);
    for (const std::string& line : lines) {
        // Only the statement that waited, and cut to the terminal's width
        // less one column.
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, std::regex(R"(running for \d+\.\d s: (update .*))"))) << line;
        EXPECT_EQ(std::string(kFlagUpdate).find(parts[1].str()), 1u) << line;
        EXPECT_EQ(line.size(), 59u) << line;
    }
    const std::size_t last = out.rfind("running for");
    EXPECT_EQ(out.substr(out.find('\r', last), 4), kErase) << "the last drawing is wiped";
    EXPECT_NE(out.find("outcome     applied: 2 rows changed"), std::string::npos) << out;
    EXPECT_EQ(db.Rows().front().ssss014, -1);
}

struct QuietCase {
    const char* name;
    bool terminal;
    std::vector<std::string> options;
};

class HostNoProgress : public HostTerminal, public ::testing::WithParamInterface<QuietCase> {};

// The statement is held well past the moment after which a terminal would
// show the line; the trace says when it has been sent.
TEST_P(HostNoProgress, LongStatementDrawsNothing) {
    Lock lock(db.path());
    Child host(HostCommand(GetParam().options), GetParam().terminal, 80);
    ASSERT_TRUE(host.ReadUntil("trace:  update GZS007 set SSSS014", std::chrono::seconds(30))) << host.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    lock.Release();
    host.ReadToEnd();
    EXPECT_EQ(host.Wait(), 0) << host.output();

    const std::string& out = host.output();
    EXPECT_EQ(out.find("running for"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    if (!GetParam().terminal) {
        EXPECT_EQ(out.find('\r'), std::string::npos) << out;
        // The report confirms that the statement ran for more than a moment.
        EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n\s+1\s+1\s+\d+\.\d{3} s  )"))) << out;
    }
    EXPECT_EQ(db.Rows().front().ssss014, -1);
}

INSTANTIATE_TEST_SUITE_P(Outputs, HostNoProgress,
                         ::testing::Values(QuietCase{"Pipe", false, {"--trace"}},
                                           QuietCase{"QuietOnTerminal", true, {"--trace", "--quiet"}}),
                         CaseName());

}  // namespace
