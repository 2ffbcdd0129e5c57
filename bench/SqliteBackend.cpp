#include "SqliteBackend.h"

#include "Statements.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace bench {
namespace {

namespace fs = std::filesystem;

struct CloseDatabase {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

int check(sqlite3* db, int rc, const char* sql) {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) fail(db, std::string("sqlite3 failed on \"") + sql + "\"");
    return rc;
}

// Opened as the data-access layer opens a file: read-write, never created,
// with the same busy timeout, so that the floor's connection is alike.
Database openDatabase(const fs::path& path, int flags = SQLITE_OPEN_READWRITE) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK) fail(db.get(), "cannot open " + path.string());
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), 5000);
    return db;
}

Statement prepareStatement(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    check(db, sqlite3_prepare_v2(db, sql, -1, &raw, nullptr), sql);
    return Statement(raw);
}

void run(sqlite3* db, const char* sql) {
    Statement statement = prepareStatement(db, sql);
    while (check(db, sqlite3_step(statement.get()), sql) == SQLITE_ROW) {
    }
}

std::int64_t queryNumber(sqlite3* db, const char* sql) {
    Statement statement = prepareStatement(db, sql);
    if (check(db, sqlite3_step(statement.get()), sql) != SQLITE_ROW) fail(db, std::string("no row from ") + sql);
    return sqlite3_column_int64(statement.get(), 0);
}

// A file descriptor, closed when it goes.
class File {
public:
    File(const fs::path& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC)) {
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    }
    ~File() { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void sync() const {
        if (::fsync(fd_) != 0) throw std::system_error(errno, std::generic_category(), "fsync");
    }
    void readToEnd() const {
        std::array<char, 1 << 20> buffer;
        ssize_t got = 0;
        while ((got = ::read(fd_, buffer.data(), buffer.size())) > 0) {
        }
        if (got < 0) throw std::system_error(errno, std::generic_category(), "read");
    }

private:
    int fd_;
};

void bindText(sqlite3_stmt* insert, int column, const std::string& value) {
    sqlite3_bind_text(insert, column, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
}

// Streams the rows of `shape` into a new file at `path`. Journal and syncs
// are off while it fills: a half-made file is thrown away, never used.
void generate(const Shape& shape, const fs::path& path) {
    Database db = openDatabase(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    run(db.get(), "PRAGMA journal_mode=OFF");
    run(db.get(), "PRAGMA synchronous=OFF");
    run(db.get(), gzs007Schema);
    run(db.get(), "BEGIN");
    const char* insertSql =
        "INSERT INTO GZS007 (GUID, GZS007001, GZS007002, GZS007003, GZS007004, GZS007005, GZS007006,"
        " GZS007007, GZS007008, GZS007009, GZS007010, GZS007011, GZS007012, SSSS001, SSSS002, SSSS003,"
        " SSSS010, SSSS014) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
    Statement insert = prepareStatement(db.get(), insertSql);
    RowGenerator rows(shape);
    Row row;
    while (rows.next(row)) {
        sqlite3_stmt* s = insert.get();
        bindText(s, 1, row.guid);
        bindText(s, 2, row.code);
        bindText(s, 3, row.group);
        bindText(s, 4, row.name);
        bindText(s, 5, row.flag);
        bindText(s, 6, row.parent);
        sqlite3_bind_int64(s, 7, row.state);
        sqlite3_bind_double(s, 8, row.quantity);
        sqlite3_bind_double(s, 9, row.price);
        bindText(s, 10, row.unit);
        bindText(s, 11, row.description);
        bindText(s, 12, row.validFrom);
        sqlite3_bind_int64(s, 13, row.sortOrder);
        bindText(s, 14, row.createdBy);
        bindText(s, 15, row.createdAt);
        bindText(s, 16, row.changedAt);
        sqlite3_bind_int64(s, 17, row.version);
        sqlite3_bind_int64(s, 18, row.flag014);
        check(db.get(), sqlite3_step(s), insertSql);
        sqlite3_reset(s);
    }
    run(db.get(), "COMMIT");
}

void removeDatabase(const fs::path& path) {
    fs::remove(path);
    fs::remove(fs::path(path.string() + "-journal"));
}

}  // namespace

SqliteBackend::SqliteBackend(fs::path dataDirectory)
    : dataDirectory_(std::move(dataDirectory)), copyPath_(dataDirectory_ / "working-copy.db") {
    fs::create_directories(dataDirectory_);
}

SqliteBackend::~SqliteBackend() {
    try {
        discardCopy();
    } catch (...) {
        // Leaving a copy behind is harmless; the next run replaces it.
    }
}

std::string SqliteBackend::description() const {
    return std::string("SQLite ") + sqlite3_libversion() + ", files in " + dataDirectory_.string();
}

fs::path SqliteBackend::pristinePath(const Shape& shape) const {
    return dataDirectory_ / ("gzs007-v" + std::to_string(generatorVersion) + "-" + shape.key() + ".db");
}

void SqliteBackend::prepare(const Shape& shape) {
    const fs::path path = pristinePath(shape);
    if (fs::exists(path)) return;
    const fs::path partial = path.string() + ".partial";
    removeDatabase(partial);
    generate(shape, partial);
    File(partial, O_RDONLY).sync();
    fs::rename(partial, path);
}

// The copy is written through to the disk and then read once whole, so
// that a run neither flushes the copy's pages along with its own commit nor
// reads any of them from the disk: each side starts from the same clean,
// cached file.
void SqliteBackend::freshCopy(const Shape& shape) {
    discardCopy();
    fs::copy_file(pristinePath(shape), copyPath_);
    const File copy(copyPath_, O_RDONLY);
    copy.sync();
    File(dataDirectory_, O_RDONLY | O_DIRECTORY).sync();
    copy.readToEnd();
}

std::string SqliteBackend::connectionString() const { return copyPath_.string(); }

std::string SqliteBackend::pristineConnectionString(const Shape& shape) const { return pristinePath(shape).string(); }

void SqliteBackend::discardCopy() { removeDatabase(copyPath_); }

// The floor: the three statements on the C API, each prepared from its
// text and stepped to its end, except the probe, which is stepped once.
// The probe is then reset, not left pending, before the second update: the
// data-access layer finalizes it at that point too, so on both sides the
// update runs with no read transaction held by the probe. It is finalized
// at the end, where the plug-in destroys its query.
Timing SqliteBackend::runFloor() {
    const Database db = openDatabase(copyPath_);
    sqlite3* handle = db.get();
    const Stopwatch stopwatch;
    run(handle, statements::flagUpdate);
    Statement probe = prepareStatement(handle, statements::otherRowProbe);
    const bool found = check(handle, sqlite3_step(probe.get()), statements::otherRowProbe) == SQLITE_ROW;
    sqlite3_reset(probe.get());
    if (found) run(handle, statements::targetUpdate);
    probe.reset();
    return stopwatch.elapsed();
}

Digest SqliteBackend::digest() const {
    const Database db = openDatabase(copyPath_, SQLITE_OPEN_READONLY);
    Digest digest;
    digest.rows = queryNumber(db.get(), "SELECT count(*) FROM GZS007");
    digest.flagged = queryNumber(db.get(), "SELECT count(*) FROM GZS007 WHERE SSSS014=-1");
    digest.targetState =
        queryNumber(db.get(), "SELECT GZS007006 FROM GZS007 WHERE GUID='A520000000000000GZU011011_013'");
    return digest;
}

}  // namespace bench
