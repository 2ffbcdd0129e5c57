#include "OdbcHandles.h"

#include "dataaccess/Utf16.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace dataaccess::detail::odbc {
namespace {

// Reads record `number` from `handle`, or nothing once the records run out.
// A message longer than the first buffer is read again, whole.
std::optional<Diagnostic> diagnosticRecord(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT number) {
    std::u16string state(6, u'\0');  // five characters and the terminator
    std::u16string message(512, u'\0');
    SQLINTEGER nativeCode = 0;
    SQLSMALLINT length = 0;
    auto read = [&] {
        return SQLGetDiagRecW(handleType, handle, number, wide(state), &nativeCode, wide(message),
                              static_cast<SQLSMALLINT>(message.size()), &length);
    };
    SQLRETURN rc = read();
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= message.size()) {
        constexpr std::size_t largest = std::numeric_limits<SQLSMALLINT>::max();  // what BufferLength can say
        message.assign(std::min(static_cast<std::size_t>(length) + 1, largest), u'\0');
        rc = read();
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return std::nullopt;
    message.resize(std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1));
    state.resize(5);
    return Diagnostic{toUtf8(state), static_cast<long>(nativeCode), toUtf8(message)};
}

}  // namespace

std::vector<Diagnostic> diagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) {
    std::vector<Diagnostic> records;
    if (handle != SQL_NULL_HANDLE) {
        for (SQLSMALLINT number = 1; number > 0; ++number) {
            std::optional<Diagnostic> record = diagnosticRecord(handleType, handle, number);
            if (!record) break;
            records.push_back(std::move(*record));
        }
    }
    if (records.empty()) {
        const char* text = rc == SQL_INVALID_HANDLE ? "invalid ODBC handle"
                                                    : "the ODBC call failed without a diagnostic record";
        records.push_back(Diagnostic{std::string(), rc, text});
    }
    return records;
}

Environment::Environment() {
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle_);
    // The one failure with no handle to carry its records.
    if (failed(rc))
        throw DatabaseError({Diagnostic{std::string(), rc, "cannot allocate an ODBC environment"}}, std::string());
    const auto version = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3));
    const SQLRETURN set = SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION, version, 0);
    if (failed(set)) {
        std::vector<Diagnostic> records = diagnosticsOf(SQL_HANDLE_ENV, handle_, set);
        SQLFreeHandle(SQL_HANDLE_ENV, handle_);
        throw DatabaseError(std::move(records), std::string());
    }
}

Environment::~Environment() { SQLFreeHandle(SQL_HANDLE_ENV, handle_); }

Connection::Connection(std::shared_ptr<const Environment> environment) : environment_(std::move(environment)) {
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, environment_->get(), &handle_);
    if (failed(rc)) throw DatabaseError(diagnosticsOf(SQL_HANDLE_ENV, environment_->get(), rc), std::string());
}

// SQLDisconnect refuses (SQLSTATE 25000) while a transaction is open in
// manual-commit mode and then leaves the handle connected, so that it could
// not be freed either: such a transaction is rolled back, never committed,
// and the disconnect tried again.
Connection::~Connection() {
    if (connected_ && failed(SQLDisconnect(handle_))) {
        SQLEndTran(SQL_HANDLE_DBC, handle_, SQL_ROLLBACK);
        SQLDisconnect(handle_);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, handle_);
}

SQLRETURN Connection::connect(const std::u16string& connectionString) {
    std::u16string text = connectionString;
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(handle_, nullptr, wide(text), static_cast<SQLSMALLINT>(text.size()),
                                           nullptr, 0, &completedLength, SQL_DRIVER_NOPROMPT);
    connected_ = !failed(rc);
    return rc;
}

SQLRETURN Connection::check(SQLRETURN rc) const {
    if (failed(rc)) throw DatabaseError(diagnosticsOf(SQL_HANDLE_DBC, handle_, rc), std::string());
    return rc;
}

Statement::Statement(std::shared_ptr<const Connection> connection) : connection_(std::move(connection)) {
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection_->get(), &handle_);
    if (failed(rc)) throw DatabaseError(diagnosticsOf(SQL_HANDLE_DBC, connection_->get(), rc), std::string());
}

Statement::~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }

SQLRETURN Statement::check(SQLRETURN rc, std::u16string_view sql) const {
    if (failed(rc)) throw DatabaseError(diagnosticsOf(SQL_HANDLE_STMT, handle_, rc), toUtf8(sql));
    return rc;
}

}  // namespace dataaccess::detail::odbc
