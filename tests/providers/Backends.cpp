#include "Backends.h"

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace providers {
namespace {

using testsupport::ProcessResult;
using testsupport::RunProcess;

// SQL text for a value; the servers' clients get no parameters. MariaDB
// reads a backslash as an escape, so none may appear in test data.
std::string Literal(const std::optional<std::string>& value) {
    if (!value) return "NULL";
    if (value->find('\\') != std::string::npos) throw std::invalid_argument("test data may not hold a backslash");
    std::string text = "'";
    for (char c : *value) text += c == '\'' ? std::string("''") : std::string(1, c);
    return text + "'";
}

std::string Literal(const std::optional<std::int64_t>& value) { return value ? std::to_string(*value) : "NULL"; }

std::optional<std::int64_t> Integer(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return std::stoll(*text);
}

// A name no other test of this run uses, for a database of its own.
std::string UniqueDatabaseName() {
    static std::atomic<int> counter{0};
    return "editdb_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

// A client's tab-separated output, one line a row; the text NULL is NULL.
std::vector<Values> ParseRows(const std::string& out) {
    std::vector<Values> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        Values values;
        std::size_t start = 0;
        for (std::size_t tab = line.find('\t');; tab = line.find('\t', start)) {
            const std::string field = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            values.push_back(field == "NULL" ? std::nullopt : std::optional<std::string>(field));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        rows.push_back(std::move(values));
    }
    return rows;
}

// The output of a client run that must succeed.
std::string Checked(const ProcessResult& result, const std::string& sql) {
    if (result.exitCode != 0)
        throw std::runtime_error("the database client failed (exit " + std::to_string(result.exitCode) +
                                 "): " + result.err + "  in: " + sql);
    return result.out;
}

// A fresh SQLite file with the standard table, reached natively or
// through the SQLite3 ODBC driver.
class SqliteBackend final : public Backend {
public:
    explicit SqliteBackend(bool odbc) : odbc_(odbc) {
        if (odbc_) RequireOdbcDriver("SQLite3", "libsqliteodbc");
    }

    std::string connectionString() const override {
        return odbc_ ? "odbc:Driver={SQLite3};Database=" + file_.path().string() : file_.path().string();
    }
    bool viaOdbc() const override { return odbc_; }
    void exec(const std::string& sql) const override { file_.Exec(sql); }

    std::vector<Values> query(const std::string& sql) const override {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(file_.handle(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(file_.handle()) + ("  in: " + sql));
        std::vector<Values> rows;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            Values values;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
                values.push_back(text ? std::optional<std::string>(text) : std::nullopt);
            }
            rows.push_back(std::move(values));
        }
        sqlite3_finalize(statement);
        return rows;
    }

protected:
    const char* insertionOrder() const override { return "rowid"; }

private:
    bool odbc_;
    testsupport::TempDir dir_;
    testsupport::SqliteFile file_{dir_ / "gzs007.db", testsupport::kGzs007Schema};
};

// GZS007 on a server, in insertion order by SEQ; the correction never names
// SEQ, and `Select *` passing it over is of no concern.
std::string ServerSchema(const char* sequenceColumn, const std::string& tableOptions) {
    return std::string("CREATE TABLE GZS007 (GUID VARCHAR(64), GZS007002 VARCHAR(64), GZS007003 VARCHAR(64),"
                       " GZS007004 VARCHAR(64), GZS007005 VARCHAR(64), GZS007006 INTEGER, SSSS014 INTEGER, ") +
           sequenceColumn + ")" + tableOptions;
}

std::map<std::string, std::string> ReadState(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("no test servers recorded in " + path +
                                 ": the fixture test test_servers_start did not run, or failed (see its output)");
    std::map<std::string, std::string> state;
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) state[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return state;
}

TestServers LoadServers() {
    const char* path = std::getenv("EDITDB_TEST_SERVERS");
    if (!path || !*path)
        throw std::runtime_error("EDITDB_TEST_SERVERS is not set: run the server tests through ctest, whose "
                                 "fixture starts the servers (scripts/test.sh does)");
    std::map<std::string, std::string> state = ReadState(path);
    TestServers servers;
    if (state.count("SKIPPED")) {
        servers.skipped = state["SKIPPED"];
        return servers;
    }
    auto take = [&](const char* key) {
        if (!state.count(key)) throw std::runtime_error(std::string(path) + " lacks " + key);
        return state[key];
    };
    servers.mariadbSocket = take("MARIADB_SOCKET");
    servers.mariadbClient = take("MARIADB_CLIENT");
    servers.postgresSocketDir = take("POSTGRES_SOCKET_DIR");
    servers.postgresPort = take("POSTGRES_PORT");
    servers.postgresUser = take("POSTGRES_USER");
    servers.psql = take("PSQL");
    return servers;
}

}  // namespace

void Backend::insert(const std::vector<Row>& rows) const {
    if (rows.empty()) return;
    std::string sql = "INSERT INTO GZS007 (GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014) VALUES ";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        sql += (i ? ", (" : "(") + Literal(r.guid) + ", " + Literal(r.gzs007002) + ", " + Literal(r.gzs007004) +
               ", " + Literal(r.gzs007005) + ", " + Literal(r.gzs007006) + ", " + Literal(r.ssss014) + ")";
    }
    exec(sql);
}

std::vector<Row> Backend::rows() const {
    std::vector<Row> rows;
    for (const Values& v : query(std::string("SELECT GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014"
                                             " FROM GZS007 ORDER BY ") +
                                 insertionOrder())) {
        rows.push_back(Row{v.at(0), v.at(1), v.at(2), v.at(3), Integer(v.at(4)), Integer(v.at(5))});
    }
    return rows;
}

const Provider kSqliteNative{"SqliteNative", false, [] { return std::unique_ptr<Backend>(new SqliteBackend(false)); }};
const Provider kSqliteOdbc{"SqliteOdbc", false, [] { return std::unique_ptr<Backend>(new SqliteBackend(true)); }};
const Provider kMariaDb{"MariaDb", true, [] { return std::unique_ptr<Backend>(new MariaDbBackend()); }};
const Provider kPostgresDeclareFetch{"PostgresDeclareFetch", true,
                                     [] { return std::unique_ptr<Backend>(new PostgresBackend(true)); }};

const TestServers& Servers() {
    static const TestServers servers = LoadServers();
    return servers;
}

MariaDbBackend::MariaDbBackend(const char* collation, const char* sessionSetup)
    : database_(UniqueDatabaseName()), sessionSetup_(sessionSetup ? sessionSetup : "") {
    RequireOdbcDriver("MariaDB Unicode", "odbc-mariadb");
    run("CREATE DATABASE " + database_, "");
    exec(ServerSchema("SEQ INTEGER AUTO_INCREMENT PRIMARY KEY",
                      std::string(" CHARACTER SET utf8mb4 COLLATE ") + collation));
}

MariaDbBackend::~MariaDbBackend() {
    try {
        run("DROP DATABASE " + database_, "");
    } catch (const std::exception&) {
        // The fixture removes the whole server at the end of the run.
    }
}

// Exactly what the README shows, with the fixture's socket.
std::string MariaDbBackend::connectionString() const {
    std::string text = "odbc:Driver={MariaDB Unicode};Socket=" + Servers().mariadbSocket + ";User=root;Database=" +
                       database_;
    if (!sessionSetup_.empty()) text += ";INITSTMT=" + sessionSetup_;
    return text;
}

void MariaDbBackend::exec(const std::string& sql) const { run(sql, database_); }

std::vector<Values> MariaDbBackend::query(const std::string& sql) const { return ParseRows(run(sql, database_)); }

std::string MariaDbBackend::run(const std::string& sql, const std::string& database) const {
    const TestServers& servers = Servers();
    std::vector<std::string> argv{servers.mariadbClient, "--no-defaults", "--socket=" + servers.mariadbSocket,
                                  "--user=root", "--batch", "--skip-column-names", "--raw"};
    if (!database.empty()) argv.push_back("--database=" + database);
    argv.insert(argv.end(), {"--execute", sql});
    return Checked(RunProcess(argv), sql);
}

PostgresBackend::PostgresBackend(bool declareFetch) : database_(UniqueDatabaseName()), declareFetch_(declareFetch) {
    RequireOdbcDriver("PostgreSQL Unicode", "odbc-postgresql");
    Checked(run("CREATE DATABASE " + database_, "postgres"), "CREATE DATABASE");
    exec(ServerSchema("SEQ SERIAL PRIMARY KEY", ""));
}

PostgresBackend::~PostgresBackend() { run("DROP DATABASE " + database_ + " WITH (FORCE)", "postgres"); }

std::string PostgresBackend::connectionString() const {
    const TestServers& servers = Servers();
    return "odbc:Driver={PostgreSQL Unicode};Servername=" + servers.postgresSocketDir + ";Port=" +
           servers.postgresPort + ";Database=" + database_ + ";Username=" + servers.postgresUser +
           (declareFetch_ ? ";UseDeclareFetch=1;Fetch=10" : "");
}

void PostgresBackend::exec(const std::string& sql) const { Checked(run(sql, database_), sql); }

std::vector<Values> PostgresBackend::query(const std::string& sql) const {
    return ParseRows(Checked(run(sql, database_), sql));
}

std::string PostgresBackend::refusal(const std::string& sql) const {
    const ProcessResult result = run(sql, database_);
    const std::string marker = "ERROR:  ";
    const std::size_t start = result.err.find(marker);
    if (result.exitCode == 0 || start == std::string::npos)
        throw std::runtime_error("the server accepted, or psql said no ERROR for: " + sql + "\n" + result.err);
    const std::size_t from = start + marker.size();
    return result.err.substr(from, result.err.find('\n', from) - from);
}

ProcessResult PostgresBackend::run(const std::string& sql, const std::string& database) const {
    const TestServers& servers = Servers();
    return RunProcess({servers.psql, "--no-psqlrc", "--quiet", "--host=" + servers.postgresSocketDir,
                       "--port=" + servers.postgresPort, "--username=" + servers.postgresUser,
                       "--dbname=" + database, "--set=ON_ERROR_STOP=1", "--no-align", "--tuples-only",
                       "--field-separator=\t", "--pset=null=NULL", "--command=" + sql});
}

void RequireOdbcDriver(const std::string& name, const std::string& package) {
    static std::set<std::string> known;
    if (known.count(name)) return;
    const std::string odbcinst = "/usr/bin/odbcinst";
    const bool registered = access(odbcinst.c_str(), X_OK) == 0 && RunProcess({odbcinst, "-q", "-d", "-n", name}).exitCode == 0;
    if (!registered)
        throw std::runtime_error("the ODBC driver [" + name + "] is not registered with the driver manager: install "
                                 "the Debian package " + package + " (scripts/test.sh installs it)");
    known.insert(name);
}

}  // namespace providers
