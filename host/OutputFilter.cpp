#include "OutputFilter.h"

#include <dataaccess/ConnectionString.h>
#include <dataaccess/Utf16.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace editdb::host {
namespace {

bool IsPasswordKey(const std::string& key) {
    std::string lower(key);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "pwd" || lower == "password";
}

// Replaces every occurrence of `secret` in `text` with "***".
void Scrub(std::string& text, const std::string& secret) {
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
        text.replace(at, secret.size(), "***");
}

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (byte < 0x20 || byte == 0x7f) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

// A bare SQLite path has no attributes, whatever characters it holds.
OutputFilter::OutputFilter(const std::string& connectionString) {
    const dataaccess::ConnectionString parsed(connectionString);
    if (parsed.body() == connectionString) return;
    for (const auto& [key, value] : dataaccess::ConnectionString::parseAttributes(parsed.body()))
        if (IsPasswordKey(key) && !value.empty()) secrets_.push_back(value);
    // The longest first, so that a password holding another is hidden whole.
    std::sort(secrets_.begin(), secrets_.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string OutputFilter::operator()(std::string_view text) const {
    std::string out(text);
    for (const std::string& secret : secrets_) Scrub(out, secret);
    return Escaped(out);
}

std::string OutputFilter::operator()(std::u16string_view text) const { return (*this)(dataaccess::toUtf8(text)); }

}  // namespace editdb::host
