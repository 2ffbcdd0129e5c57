#pragma once

#include "dataaccess/Export.h"

#include <memory>
#include <string>
#include <vector>

namespace dataaccess {

class DbConnection;
namespace detail {
class Cursor;
}

// A query on a connection, in the role of the host application's query
// component. Its SQL is held as lines; the database receives each line
// followed by CR LF.
//
// Open reads only as far as it must to know whether a row exists, and then
// lets go of the database, so that the connection is free for other
// statements while the query itself stays open.
class DATAACCESS_API DbQuery {
public:
    DbQuery();  // no owner: whoever makes it destroys it
    // Closes the query and detaches it from its connection. Never throws.
    ~DbQuery();

    DbQuery(const DbQuery&) = delete;
    DbQuery& operator=(const DbQuery&) = delete;

    // Binds the query to a connection (nullptr unbinds it); the connection
    // then counts it among its queries. Closes the query first.
    void Connection(DbConnection* connection);
    DbConnection* Connection() const noexcept { return connection_; }

    std::vector<std::u16string>& SQL() noexcept { return sql_; }
    const std::vector<std::u16string>& SQL() const noexcept { return sql_; }

    // Runs the query on its connection, opening the connection first when it
    // is closed. Throws std::logic_error without a connection, DatabaseError
    // when the database refuses the query. Does nothing when already open.
    void Open();
    void Close() noexcept;
    bool Active() const noexcept { return cursor_ != nullptr; }

    // Whether the open query holds no record; a closed query holds none.
    bool IsEmpty() const noexcept;

private:
    friend class DbConnection;  // clears connection_ when the connection goes first

    std::u16string commandText() const;

    DbConnection* connection_ = nullptr;
    std::vector<std::u16string> sql_;
    std::unique_ptr<detail::Cursor> cursor_;
};

}  // namespace dataaccess
