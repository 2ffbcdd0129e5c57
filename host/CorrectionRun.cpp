#include "CorrectionRun.h"

#include "ExitStatus.h"

#include <dataaccess/ConnectionString.h>
#include <dataaccess/DatabaseError.h>

#include <chrono>
#include <iostream>

namespace editdb::host {
namespace {

const char* ModeText(TransactionMode mode) {
    switch (mode) {
    case TransactionMode::None:
        return "no transaction: each statement is committed as it runs";
    case TransactionMode::Transaction:
        return "one transaction: committed on success, rolled back on failure";
    case TransactionMode::DryRun:
        return "dry run: one transaction, always rolled back";
    }
    return "";
}

std::string Rows(std::int64_t rows) { return std::to_string(rows) + (rows == 1 ? " row" : " rows"); }

}  // namespace

CorrectionRun::CorrectionRun(const HostOptions& options, const OutputFilter& filter)
    : options_(options),
      filter_(filter),
      connection_(options.connectionString),
      report_(filter(options.pluginPath), filter(dataaccess::ConnectionString(options.connectionString).redacted()),
              ModeText(options.transaction)),
      progress_(!options.quiet) {
    connection_.OnWillExecute([this](std::u16string_view text) { onWillExecute(text); });
    connection_.OnExecuteComplete([this](const dataaccess::ExecuteCompletion& c) { onExecuteComplete(c); });
}

int CorrectionRun::Run(ExecEditDbFunction execEditDb) {
    const int status = runSteps(execEditDb);
    connection_.Close();
    if (!options_.quiet) report_.Print(std::cout);
    return status;
}

// A database that cannot be opened, or a transaction that cannot begin,
// fails the run before the plug-in is called: nothing was sent.
int CorrectionRun::runSteps(ExecEditDbFunction execEditDb) {
    try {
        connection_.Open();
        if (options_.transaction != TransactionMode::None)
            transactionStep("(begin transaction)", &dataaccess::DbConnection::BeginTrans);
    } catch (const dataaccess::DatabaseError&) {
        return failed(std::current_exception());
    }
    try {
        execEditDb(&connection_, options_.text.c_str(), options_.value);
    } catch (...) {
        return failed(std::current_exception());
    }
    return succeeded();
}

// Names the failing statement in the outcome, and says plainly what the
// failure left in the database.
int CorrectionRun::failed(const std::exception_ptr& failure) {
    const std::string message = describe(failure);
    const std::size_t count = report_.StatementCount();
    std::string outcome;
    if (const auto number = report_.FailedStatement()) outcome = "failed at statement " + std::to_string(*number);
    else if (count > 0) outcome = "failed after statement " + std::to_string(count);
    else outcome = "failed before any statement";
    outcome += ": " + message + "; ";

    const bool anyApplied = count > (report_.FailedStatement() ? 1u : 0u);
    if (connection_.InTransaction()) outcome += rollBackAfterFailure();
    else if (options_.transaction != TransactionMode::None && anyApplied)
        outcome += "the transaction ended without the host's rollback; the database may hold the statements before it";
    else if (anyApplied)
        outcome += "not rolled back: the statements before it stay applied (" + Rows(report_.RowsChanged()) + " changed)";
    else outcome += "nothing was changed";
    report_.SetOutcome(outcome);
    return correctionFailed;
}

int CorrectionRun::succeeded() {
    const std::string rows = Rows(report_.RowsChanged());
    try {
        switch (options_.transaction) {
        case TransactionMode::None:
            report_.SetOutcome("applied: " + rows + " changed");
            return applied;
        case TransactionMode::Transaction:
            transactionStep("(commit)", &dataaccess::DbConnection::CommitTrans);
            report_.SetOutcome("applied and committed: " + rows + " changed");
            return applied;
        case TransactionMode::DryRun:
            transactionStep("(rollback)", &dataaccess::DbConnection::RollbackTrans);
            report_.SetOutcome("dry run, rolled back: would have changed " + rows + "; the database is unchanged");
            return applied;
        }
    } catch (...) {
        const std::string message = describe(std::current_exception());
        if (options_.transaction == TransactionMode::DryRun) {
            report_.SetOutcome("dry run: the rollback failed: " + message +
                               "; the statements' changes may have been committed");
        } else {
            report_.SetOutcome("the commit failed: " + message + "; " +
                               (connection_.InTransaction() ? rollBackAfterFailure() : "nothing was committed"));
        }
    }
    return correctionFailed;
}

// Runs one step of the host's transaction under the same trace, progress
// line and report as the plug-in's statements.
void CorrectionRun::transactionStep(const char* name, void (dataaccess::DbConnection::*step)()) {
    if (options_.trace) std::cerr << "trace: " << name << '\n';
    progress_.Start(name);
    const auto started = std::chrono::steady_clock::now();
    const auto record = [&](bool failedStep) {
        progress_.Stop();
        report_.Add(ReportLine{name, false, false, -1, std::chrono::steady_clock::now() - started, failedStep});
    };
    try {
        (connection_.*step)();
    } catch (...) {
        record(true);
        throw;
    }
    record(false);
}

std::string CorrectionRun::rollBackAfterFailure() {
    try {
        transactionStep("(rollback)", &dataaccess::DbConnection::RollbackTrans);
        return "rolled back, the database is unchanged";
    } catch (...) {
        return "the rollback failed as well: " + describe(std::current_exception());
    }
}

void CorrectionRun::onWillExecute(std::u16string_view commandText) {
    const std::string text = filter_(commandText);
    if (options_.trace) std::cerr << "trace: " << text << '\n';
    progress_.Start(text);
}

void CorrectionRun::onExecuteComplete(const dataaccess::ExecuteCompletion& completion) {
    progress_.Stop();
    report_.Add(ReportLine{filter_(completion.commandText), true, completion.isQuery, completion.rowsAffected,
                           completion.elapsed, completion.failed});
}

// Puts the failure on standard error and returns its message for the outcome.
// The database's own message goes out as it came, on a line of its own; the
// statement it refused follows, so the user knows which step failed.
std::string CorrectionRun::describe(const std::exception_ptr& failure) const {
    try {
        std::rethrow_exception(failure);
    } catch (const dataaccess::DatabaseError& error) {
        const std::string message = filter_(std::string_view(error.what()));
        std::cerr << message << '\n';
        if (!error.statement().empty()) std::cerr << "statement:" << filter_(error.statement()) << '\n';
        return message;
    } catch (const std::exception& error) {
        const std::string message = filter_(std::string_view(error.what()));
        std::cerr << "editdb-host: " << message << '\n';
        return message;
    } catch (...) {
        std::cerr << "editdb-host: the plug-in failed with an exception of unknown type\n";
        return "an exception of unknown type";
    }
}

}  // namespace editdb::host
