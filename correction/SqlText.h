#pragma once

#include <string>

namespace editdb {

// `value` as an SQL string literal: in single quotes, each quote inside doubled.
std::string Quoted(const std::string& value);

}  // namespace editdb
