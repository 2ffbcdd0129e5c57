#include "dataaccess/DatabaseError.h"

namespace dataaccess {
namespace {

std::string joinMessages(const std::vector<Diagnostic>& diagnostics) {
    std::string text;
    for (const Diagnostic& record : diagnostics) {
        if (!text.empty()) text += '\n';
        text += record.message;
    }
    return text;
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

DatabaseError::DatabaseError(std::vector<Diagnostic> diagnostics, std::string statement)
    : DatabaseError(diagnostics, std::move(statement), joinMessages(diagnostics)) {}

DatabaseError::DatabaseError(std::vector<Diagnostic> diagnostics, std::string statement, const std::string& what)
    : std::runtime_error(what), diagnostics_(std::move(diagnostics)), statement_(std::move(statement)) {}

DatabaseError DatabaseError::openFailure(Diagnostic diagnostic, const std::string& database) {
    return openFailure(std::vector<Diagnostic>{std::move(diagnostic)}, database);
}

DatabaseError DatabaseError::openFailure(std::vector<Diagnostic> diagnostics, const std::string& database) {
    std::string what = joinMessages(diagnostics) + ": " + database;
    return DatabaseError(std::move(diagnostics), std::string(), what);
}

DatabaseError::~DatabaseError() = default;

long DatabaseError::code() const noexcept { return diagnostics_.empty() ? 0 : diagnostics_.front().nativeCode; }

const std::string& DatabaseError::sqlState() const noexcept {
    return diagnostics_.empty() ? emptyText() : diagnostics_.front().sqlState;
}

const std::string& DatabaseError::statement() const noexcept { return statement_; }

}  // namespace dataaccess
