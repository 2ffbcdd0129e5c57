#pragma once

#include "HostOptions.h"
#include "OutputFilter.h"
#include "ProgressLine.h"
#include "Report.h"

#include <editdb.h>

#include <dataaccess/DbConnection.h>

#include <exception>
#include <string>

namespace editdb::host {

// One run of a plug-in's correction on a connection that the host owns:
// the transaction around the call if one is asked for, the trace, the
// progress line, and the report that ends the run.
class CorrectionRun {
public:
    CorrectionRun(const HostOptions& options, const OutputFilter& filter);

    CorrectionRun(const CorrectionRun&) = delete;
    CorrectionRun& operator=(const CorrectionRun&) = delete;

    // Opens the connection, calls `execEditDb` on it, ends the transaction,
    // closes the connection and prints the report. Returns the exit status.
    // Throws std::invalid_argument, before anything is sent, for a connection
    // string that no provider can use.
    int Run(ExecEditDbFunction execEditDb);

private:
    int runSteps(ExecEditDbFunction execEditDb);
    int failed(const std::exception_ptr& failure);
    int succeeded();

    // Runs BeginTrans, CommitTrans or RollbackTrans as a line of the report.
    void transactionStep(const char* name, void (dataaccess::DbConnection::*step)());
    // Rolls back after a failure; says how that went, for the outcome.
    std::string rollBackAfterFailure();

    void onWillExecute(std::u16string_view commandText);
    void onExecuteComplete(const dataaccess::ExecuteCompletion& completion);
    std::string describe(const std::exception_ptr& failure) const;

    const HostOptions& options_;
    const OutputFilter& filter_;
    dataaccess::DbConnection connection_;
    Report report_;
    ProgressLine progress_;
};

}  // namespace editdb::host
