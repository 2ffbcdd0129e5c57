#include "Report.h"

#include <cstdio>

namespace editdb::host {
namespace {

std::string RowsColumn(const ReportLine& line) {
    if (line.failed) return "failed";
    if (!line.isStatement) return "";
    if (line.isQuery) return "query";
    if (line.rows < 0) return "?";
    return std::to_string(line.rows);
}

void PrintRow(std::ostream& out, const std::string& number, const std::string& rows, const std::string& time,
              const std::string& text) {
    char columns[64];
    std::snprintf(columns, sizeof columns, "%4s  %7s  %11s  ", number.c_str(), rows.c_str(), time.c_str());
    out << columns << text << '\n';
}

}  // namespace

std::string FormatElapsed(std::chrono::nanoseconds elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    char text[32];
    if (seconds < 1.0) std::snprintf(text, sizeof text, "%.3f ms", seconds * 1000.0);
    else std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

Report::Report(std::string pluginPath, std::string connection, std::string mode)
    : pluginPath_(std::move(pluginPath)), connection_(std::move(connection)), mode_(std::move(mode)) {}

std::size_t Report::StatementCount() const {
    std::size_t count = 0;
    for (const ReportLine& line : lines_) count += line.isStatement ? 1 : 0;
    return count;
}

std::optional<std::size_t> Report::FailedStatement() const {
    std::size_t number = 0;
    for (const ReportLine& line : lines_) {
        if (!line.isStatement) continue;
        ++number;
        if (line.failed) return number;
    }
    return std::nullopt;
}

std::int64_t Report::RowsChanged() const {
    std::int64_t rows = 0;
    for (const ReportLine& line : lines_)
        if (line.isStatement && !line.isQuery && !line.failed && line.rows > 0) rows += line.rows;
    return rows;
}

void Report::Print(std::ostream& out) const {
    out << "plug-in     " << pluginPath_ << '\n'
        << "connection  " << connection_ << '\n'
        << "mode        " << mode_ << '\n'
        << '\n';
    if (lines_.empty()) {
        out << "nothing was sent to the database\n";
    } else {
        PrintRow(out, "#", "rows", "time", "statement");
        std::size_t number = 0;
        for (const ReportLine& line : lines_) {
            const std::string shownNumber = line.isStatement ? std::to_string(++number) : "";
            PrintRow(out, shownNumber, RowsColumn(line), FormatElapsed(line.elapsed), line.text);
        }
    }
    out << '\n' << "outcome     " << outcome_ << '\n';
}

}  // namespace editdb::host
