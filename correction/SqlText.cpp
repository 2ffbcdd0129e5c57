#include "SqlText.h"

namespace editdb {

std::string Quoted(const std::string& value) {
    std::string literal;
    literal.reserve(value.size() + 2);
    literal += '\'';
    for (char c : value) {
        if (c == '\'') literal += '\'';
        literal += c;
    }
    literal += '\'';
    return literal;
}

}  // namespace editdb
