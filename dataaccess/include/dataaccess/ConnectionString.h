#pragma once

#include "dataaccess/Export.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dataaccess {

// A connection string names its provider by a prefix and carries
// `key=value` attributes separated by ';'. A value may be wrapped in braces
// to hold ';' or '=' ({a;b}); "}}" inside braces stands for one '}'.
//
//   /path/to/file.db                    SQLite file, default settings
//   sqlite:Database=/path/f.db;BusyTimeout=2000
//   odbc:Driver={...};Database=...      handed to the ODBC driver manager
class DATAACCESS_API ConnectionString {
public:
    enum class Provider { Sqlite, Odbc };

    explicit ConnectionString(std::string text);

    Provider provider() const noexcept { return provider_; }
    // The text after the provider prefix (for a bare path, the path itself).
    const std::string& body() const noexcept { return body_; }
    // The value of the first attribute whose key matches, ignoring case.
    std::optional<std::string> attribute(std::string_view key) const;
    // The whole text with the value of every PWD or Password attribute
    // replaced by "***": the only form fit for a message, a trace or a report.
    std::string redacted() const;

    static std::vector<std::pair<std::string, std::string>> parseAttributes(std::string_view body);

private:
    std::string text_;
    Provider provider_;
    std::string body_;
    bool bareSqlitePath_ = false;
};

}  // namespace dataaccess
