#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace editdb::host {

// One line of the report: a statement the plug-in had the database run, or
// a step of the host's own transaction (begin, commit, rollback).
struct ReportLine {
    std::string text;  // as fit for output: filtered, escaped
    bool isStatement = true;
    bool isQuery = false;
    std::int64_t rows = -1;  // rows changed; -1 when not known
    std::chrono::nanoseconds elapsed{0};
    bool failed = false;
};

// What the host did, in order, and how it ended; printed after every run.
class Report {
public:
    Report(std::string pluginPath, std::string connection, std::string mode);

    void Add(ReportLine line) { lines_.push_back(std::move(line)); }
    void SetOutcome(std::string outcome) { outcome_ = std::move(outcome); }

    std::size_t StatementCount() const;
    // The number (from 1) of the statement that failed, if one did.
    std::optional<std::size_t> FailedStatement() const;
    // Rows changed by all statements together, each counted once per statement.
    std::int64_t RowsChanged() const;

    void Print(std::ostream& out) const;

private:
    std::string pluginPath_;
    std::string connection_;
    std::string mode_;
    std::vector<ReportLine> lines_;
    std::string outcome_;
};

// "0.084 ms" below a second, "2.513 s" from there on.
std::string FormatElapsed(std::chrono::nanoseconds elapsed);

}  // namespace editdb::host
