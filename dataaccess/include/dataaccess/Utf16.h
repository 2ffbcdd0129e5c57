#pragma once

#include "dataaccess/Export.h"

#include <string>
#include <string_view>

namespace dataaccess {

// Statement texts cross this library as UTF-16. These convert them for
// messages and traces; an unpaired surrogate becomes U+FFFD.
DATAACCESS_API std::string toUtf8(std::u16string_view text);
DATAACCESS_API std::u16string fromUtf8(std::string_view text);

}  // namespace dataaccess
