#pragma once

#include "dataaccess/Export.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace dataaccess {

// One record of what the database said about a failure.
struct Diagnostic {
    std::string sqlState;  // five-character SQLSTATE, empty where the engine has none
    long nativeCode = 0;   // the engine's own code (SQLite: extended result code)
    std::string message;   // the engine's text, exactly as it gave it
};

// The one exception type for failures that the database reports.
//
// what() is the database's own message, unchanged (several ODBC records are
// joined by newlines). An open failure, which has no statement, also names
// the database it could not open. The failing statement travels beside the
// message so that whoever catches it can show what was refused.
class DATAACCESS_API DatabaseError : public std::runtime_error {
public:
    DatabaseError(std::vector<Diagnostic> diagnostics, std::string statement);

    // Made when a database cannot be opened; `database` names it.
    static DatabaseError openFailure(Diagnostic diagnostic, const std::string& database);
    // The same for a provider that reports several records (ODBC); `database`
    // must already be fit for a message (ConnectionString::redacted()).
    static DatabaseError openFailure(std::vector<Diagnostic> diagnostics, const std::string& database);

    // Out of line: the key function that anchors the type's identity in this library.
    ~DatabaseError() override;

    DatabaseError(const DatabaseError&) = default;
    DatabaseError& operator=(const DatabaseError&) = default;

    long code() const noexcept;                  // native code of the first record
    const std::string& sqlState() const noexcept;  // SQLSTATE of the first record
    const std::string& statement() const noexcept; // UTF-8; empty for an open failure
    const std::vector<Diagnostic>& diagnostics() const noexcept { return diagnostics_; }

private:
    DatabaseError(std::vector<Diagnostic> diagnostics, std::string statement, const std::string& what);

    std::vector<Diagnostic> diagnostics_;
    std::string statement_;
};

}  // namespace dataaccess
