#include "dataaccess/ConnectionString.h"

#include <algorithm>
#include <cctype>

namespace dataaccess {
namespace {

constexpr std::string_view sqlitePrefix = "sqlite:";
constexpr std::string_view odbcPrefix = "odbc:";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(std::string_view text) {
    const auto notSpace = [](char c) { return !std::isspace(static_cast<unsigned char>(c)); };
    const auto first = std::find_if(text.begin(), text.end(), notSpace);
    const auto last = std::find_if(text.rbegin(), text.rend(), notSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

bool isPasswordKey(std::string_view key) {
    return equalsIgnoringCase(key, "PWD") || equalsIgnoringCase(key, "Password");
}

// Reads one value starting at `pos`: either up to the next ';', or a braced
// value up to its closing brace. Leaves `pos` on the ';' or the end.
std::string readValue(std::string_view body, std::size_t& pos) {
    std::size_t start = pos;
    while (start < body.size() && body[start] == ' ') ++start;
    if (start < body.size() && body[start] == '{') {
        std::string value;
        std::size_t i = start + 1;
        for (; i < body.size(); ++i) {
            if (body[i] != '}') {
                value += body[i];
            } else if (i + 1 < body.size() && body[i + 1] == '}') {
                value += '}';
                ++i;
            } else {
                break;
            }
        }
        pos = std::min(body.find(';', i), body.size());
        return value;
    }
    pos = std::min(body.find(';', start), body.size());
    return trimmed(body.substr(start, pos - start));
}

// One ';'-separated part of a connection string body, as found in the text:
// `text` is the raw part without its ';'; `key` is empty for a part with no '='.
struct Part {
    std::string_view text;
    std::string key;
    std::string value;
    std::size_t valueOffset = 0;  // where the raw value starts within `text`
};

std::vector<Part> splitParts(std::string_view body) {
    std::vector<Part> parts;
    std::size_t pos = 0;
    while (pos < body.size()) {
        Part part;
        const std::size_t equals = body.find('=', pos);
        const std::size_t semicolon = body.find(';', pos);
        std::size_t end = std::min(semicolon, body.size());
        if (equals != std::string_view::npos && equals < end) {
            part.key = trimmed(body.substr(pos, equals - pos));
            part.valueOffset = equals + 1 - pos;
            end = equals + 1;
            part.value = readValue(body, end);
        }
        part.text = body.substr(pos, end - pos);
        parts.push_back(std::move(part));
        pos = end + 1;
    }
    return parts;
}

}  // namespace

ConnectionString::ConnectionString(std::string text) : text_(std::move(text)) {
    if (startsWith(text_, odbcPrefix)) {
        provider_ = Provider::Odbc;
        body_ = text_.substr(odbcPrefix.size());
    } else if (startsWith(text_, sqlitePrefix)) {
        provider_ = Provider::Sqlite;
        body_ = text_.substr(sqlitePrefix.size());
    } else {
        provider_ = Provider::Sqlite;
        body_ = text_;
        bareSqlitePath_ = true;
    }
}

std::vector<std::pair<std::string, std::string>> ConnectionString::parseAttributes(std::string_view body) {
    std::vector<std::pair<std::string, std::string>> attributes;
    for (Part& part : splitParts(body)) {
        if (!part.key.empty()) attributes.emplace_back(std::move(part.key), std::move(part.value));
    }
    return attributes;
}

std::optional<std::string> ConnectionString::attribute(std::string_view key) const {
    if (bareSqlitePath_) {
        if (equalsIgnoringCase(key, "Database")) return body_;
        return std::nullopt;
    }
    for (auto& [name, value] : parseAttributes(body_)) {
        if (equalsIgnoringCase(name, key)) return value;
    }
    return std::nullopt;
}

std::string ConnectionString::redacted() const {
    if (bareSqlitePath_) return text_;
    std::string out = text_.substr(0, text_.size() - body_.size());
    const std::vector<Part> parts = splitParts(body_);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += ';';
        const Part& part = parts[i];
        if (isPasswordKey(part.key)) {
            out += part.text.substr(0, part.valueOffset);
            out += "***";
        } else {
            out += part.text;
        }
    }
    if (!body_.empty() && body_.back() == ';') out += ';';
    return out;
}

}  // namespace dataaccess
