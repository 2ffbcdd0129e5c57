#pragma once

// The plug-in's one entry point, as the host application sees it.

#include <cstdint>

namespace dataaccess {
class DbConnection;
}

#define EDITDB_EXPORT __attribute__((visibility("default")))

extern "C" {

// Applies the plug-in's correction through the host's open connection.
//
// `connection` stays the host's: it is neither opened, closed, committed nor
// kept (it opens itself at the first statement if it is closed). `text` and
// `value` are accepted for the host's calling convention and never read.
// Returns normally on success; any failure is thrown to the caller as it was
// raised (dataaccess::DatabaseError for what the database refuses), after
// everything the call created has been released. A null connection throws
// std::invalid_argument before anything runs.
EDITDB_EXPORT void Exec_EditDb(dataaccess::DbConnection* connection, const char* text, std::int32_t value);

}

// The export's type, for a host that looks it up by name.
using ExecEditDbFunction = void (*)(dataaccess::DbConnection*, const char*, std::int32_t);
