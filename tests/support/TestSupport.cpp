#include "TestSupport.h"

#include <dataaccess/Utf16.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

std::filesystem::path PluginPath() { return EDITDB_PLUGIN_PATH; }
std::filesystem::path HostPath() { return EDITDB_HOST_PATH; }
std::filesystem::path DataAccessLibraryPath() { return EDITDB_DATAACCESS_PATH; }

const char* const kFlagUpdate = " update GZS007 set SSSS014=-1 where GZS007004='A'";
const char* const kProbe =
    " Select * from GZS007 where GZS007002='GZU011011' AND GZS007005='A520000000000000GZSSYS002_002'"
    " AND [GUID]<>'A520000000000000GZU011011_013'\r\n";
const char* const kTargetUpdate = " update GZS007 set GZS007006=0 where [GUID]='A520000000000000GZU011011_013'";

const char* const kGzs007Schema =
    "CREATE TABLE GZS007 ("
    " GUID TEXT, GZS007002 TEXT, GZS007003 TEXT, GZS007004 TEXT, GZS007005 TEXT,"
    " GZS007006 INTEGER, SSSS014 INTEGER);";

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "editdb-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool Row::operator==(const Row& o) const {
    return guid == o.guid && gzs007002 == o.gzs007002 && gzs007004 == o.gzs007004 && gzs007005 == o.gzs007005 &&
           gzs007006 == o.gzs007006 && ssss014 == o.ssss014;
}

namespace {

template <typename T>
void PrintField(std::ostream& out, const char* name, const std::optional<T>& value) {
    out << name << '=';
    if (value) out << '\'' << *value << '\'';
    else out << "NULL";
    out << ' ';
}

void BindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& value) {
    if (value) sqlite3_bind_text(statement, index, value->c_str(), -1, SQLITE_TRANSIENT);
    else sqlite3_bind_null(statement, index);
}

void BindInteger(sqlite3_stmt* statement, int index, const std::optional<std::int64_t>& value) {
    if (value) sqlite3_bind_int64(statement, index, *value);
    else sqlite3_bind_null(statement, index);
}

std::optional<std::string> ColumnText(sqlite3_stmt* statement, int index) {
    if (sqlite3_column_type(statement, index) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, index)));
}

std::optional<std::int64_t> ColumnInteger(sqlite3_stmt* statement, int index) {
    if (sqlite3_column_type(statement, index) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(statement, index);
}

struct Statement {
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &handle, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db) + (": " + sql));
    }
    ~Statement() { sqlite3_finalize(handle); }
    sqlite3_stmt* handle = nullptr;
};

}  // namespace

std::ostream& operator<<(std::ostream& out, const Row& row) {
    out << "{ ";
    PrintField(out, "GUID", row.guid);
    PrintField(out, "GZS007002", row.gzs007002);
    PrintField(out, "GZS007004", row.gzs007004);
    PrintField(out, "GZS007005", row.gzs007005);
    PrintField(out, "GZS007006", row.gzs007006);
    PrintField(out, "SSSS014", row.ssss014);
    return out << '}';
}

SqliteFile::SqliteFile(std::filesystem::path path, const std::string& setupSql) : path_(std::move(path)) {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot create " + path_.string());
    Exec(setupSql);
}

SqliteFile::~SqliteFile() { sqlite3_close_v2(db_); }

void SqliteFile::Exec(const std::string& sql) const {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw std::runtime_error("test setup failed: " + text + "\n  in: " + sql);
    }
}

void SqliteFile::Insert(const std::vector<Row>& rows) const {
    Statement insert(db_,
                     "INSERT INTO GZS007 (GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014)"
                     " VALUES (?, ?, ?, ?, ?, ?)");
    for (const Row& row : rows) {
        BindText(insert.handle, 1, row.guid);
        BindText(insert.handle, 2, row.gzs007002);
        BindText(insert.handle, 3, row.gzs007004);
        BindText(insert.handle, 4, row.gzs007005);
        BindInteger(insert.handle, 5, row.gzs007006);
        BindInteger(insert.handle, 6, row.ssss014);
        if (sqlite3_step(insert.handle) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
        sqlite3_reset(insert.handle);
    }
}

std::vector<Row> SqliteFile::Rows() const {
    Statement select(db_,
                     "SELECT GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014 FROM GZS007 ORDER BY rowid");
    std::vector<Row> rows;
    while (sqlite3_step(select.handle) == SQLITE_ROW) {
        rows.push_back(Row{ColumnText(select.handle, 0), ColumnText(select.handle, 1), ColumnText(select.handle, 2),
                           ColumnText(select.handle, 3), ColumnInteger(select.handle, 4),
                           ColumnInteger(select.handle, 5)});
    }
    return rows;
}

std::int64_t SqliteFile::Count(const std::string& sql) const {
    Statement select(db_, sql);
    if (sqlite3_step(select.handle) != SQLITE_ROW) throw std::runtime_error("no row: " + sql);
    return sqlite3_column_int64(select.handle, 0);
}

LoadedPlugin::LoadedPlugin(const std::filesystem::path& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    execEditDb_ = reinterpret_cast<ExecEditDbFunction>(dlsym(handle_, "Exec_EditDb"));
    if (!execEditDb_) {
        dlclose(handle_);
        throw std::runtime_error("the plug-in has no Exec_EditDb");
    }
}

LoadedPlugin::~LoadedPlugin() { dlclose(handle_); }

StatementLog::StatementLog(dataaccess::DbConnection& connection) {
    connection.OnWillExecute([this](std::u16string_view text) { texts_.push_back(dataaccess::toUtf8(text)); });
}

namespace {

// Reads everything from `fd` until its writer closes it.
std::string Drain(int fd) {
    std::string text;
    std::array<char, 4096> buffer{};
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) text.append(buffer.data(), static_cast<std::size_t>(n));
    close(fd);
    return text;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    ProcessResult result;
    std::thread errReader([&] { result.err = Drain(errPipe[0]); });
    result.out = Drain(outPipe[0]);
    errReader.join();
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace testsupport
