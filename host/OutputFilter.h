#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace editdb::host {

// Everything the host prints passes through here, so that no output can
// carry the connection's password or move a terminal's cursor.
class OutputFilter {
public:
    // Collects the password values (PWD, Password) of `connectionString`.
    explicit OutputFilter(const std::string& connectionString);

    // `text` (UTF-8) with each password value replaced by "***" and each
    // control character written as an escape (\r, \n, \t, \x1b...).
    std::string operator()(std::string_view text) const;
    std::string operator()(std::u16string_view text) const;

private:
    std::vector<std::string> secrets_;
};

}  // namespace editdb::host
