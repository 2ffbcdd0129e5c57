#pragma once

// Real SQLite files, the real plug-in loaded with dlopen, and a record of
// what the database was sent: the pieces every test here is built from.
// Rows are read and written with the sqlite3 C API directly, never through
// the data-access layer under test.

#include <editdb.h>

#include <dataaccess/DbConnection.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct sqlite3;

namespace testsupport {

// Where the build put the artefacts under test.
std::filesystem::path PluginPath();
std::filesystem::path HostPath();
std::filesystem::path DataAccessLibraryPath();

// A fresh directory, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// One row of GZS007 as the tests see it; std::nullopt is SQL NULL.
struct Row {
    std::optional<std::string> guid;
    std::optional<std::string> gzs007002;
    std::optional<std::string> gzs007004;
    std::optional<std::string> gzs007005;
    std::optional<std::int64_t> gzs007006;
    std::optional<std::int64_t> ssss014;
    bool operator==(const Row& other) const;
};
std::ostream& operator<<(std::ostream& out, const Row& row);

// The fixed values of the correction, for building rows.
inline constexpr const char* kTargetGuid = "A520000000000000GZU011011_013";
inline constexpr const char* kGroup = "GZU011011";
inline constexpr const char* kParent = "A520000000000000GZSSYS002_002";

// The standard GZS007 table, as the sample database has it.
extern const char* const kGzs007Schema;

// An SQLite database file opened with the C API.
class SqliteFile {
public:
    // Creates the file and runs `setupSql` on it (for instance kGzs007Schema).
    SqliteFile(std::filesystem::path path, const std::string& setupSql);
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    sqlite3* handle() const { return db_; }

    void Exec(const std::string& sql) const;  // fails the test on error
    void Insert(const std::vector<Row>& rows) const;
    std::vector<Row> Rows() const;  // in insertion order
    std::int64_t Count(const std::string& sql) const;  // first column of first row

private:
    std::filesystem::path path_;
    sqlite3* db_ = nullptr;
};

// The plug-in, loaded as the host loads it.
class LoadedPlugin {
public:
    explicit LoadedPlugin(const std::filesystem::path& path = PluginPath());
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    void Call(dataaccess::DbConnection* connection, const char* text = "", std::int32_t value = 0) const {
        execEditDb_(connection, text, value);
    }

private:
    void* handle_ = nullptr;
    ExecEditDbFunction execEditDb_ = nullptr;
};

// Records, as UTF-8, every command text a connection hands to its database.
class StatementLog {
public:
    explicit StatementLog(dataaccess::DbConnection& connection);
    const std::vector<std::string>& texts() const { return texts_; }

private:
    std::vector<std::string> texts_;
};

// The three texts the correction sends, exactly as the database gets them.
extern const char* const kFlagUpdate;
extern const char* const kProbe;  // ends in CR LF
extern const char* const kTargetUpdate;

// Names each case of a parameterised test after its `name` field.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& caseInfo) const {
        return caseInfo.param.name;
    }
};

// The result of running a program to its end.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
ProcessResult RunProcess(const std::vector<std::string>& argv);

// Rows built around the correction's fixed values, for case tables.
inline constexpr const char* kOtherGuid = "A520000000000000GZU011011_014";

inline Row Target(std::optional<std::int64_t> gzs007006 = 1, const char* flag = "B") {
    return Row{kTargetGuid, kGroup, flag, kParent, gzs007006, 0};
}

// A row other than the target that carries the probed pair.
inline Row OtherMatch(std::optional<std::string> guid = kOtherGuid) {
    return Row{std::move(guid), kGroup, "B", kParent, 1, 0};
}

inline Row WithFlag(Row row, std::optional<std::int64_t> ssss014) {
    row.ssss014 = ssss014;
    return row;
}

inline Row With006(Row row, std::optional<std::int64_t> gzs007006) {
    row.gzs007006 = gzs007006;
    return row;
}

}  // namespace testsupport
