#include "ConnectionAccess.h"

#include <dataaccess/DbConnection.h>

namespace editdb {

std::u16string Widen(const std::string& ascii) {
    std::u16string wide;
    wide.reserve(ascii.size());
    for (char c : ascii) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

void RunStatement(dataaccess::DbConnection& connection, const std::string& statement) {
    connection.Execute(Widen(statement));
}

ProbeQuery::ProbeQuery(dataaccess::DbConnection& connection) { query_.Connection(&connection); }

bool ProbeQuery::Open(const std::string& statement) {
    query_.SQL().assign({Widen(statement)});
    query_.Open();
    return !query_.IsEmpty();
}

}  // namespace editdb
