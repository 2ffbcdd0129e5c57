#include "editdb.h"

#include "correction/Gzs007Correction.h"

#include <stdexcept>

// Nothing is caught here: a failure leaves through the export unchanged, and
// the correction has released what it created on the way out.
void Exec_EditDb(dataaccess::DbConnection* connection, const char* /*text*/, std::int32_t /*value*/) {
    if (connection == nullptr) throw std::invalid_argument("Exec_EditDb: the host connection is null");
    editdb::CorrectGzs007(*connection);
}
