#pragma once

namespace dataaccess {
class DbConnection;
}

namespace editdb {

// The fixed correction of table GZS007, run on the host's connection:
//   1. every row whose GZS007004 is 'A' gets SSSS014 = -1;
//   2. a probe looks for a row other than the target GUID with the given
//      GZS007002 / GZS007005 pair;
//   3. only if it finds one, the target row gets GZS007006 = 0, while the
//      probe is still open.
// A failing step ends the correction there; earlier steps stay applied.
void CorrectGzs007(dataaccess::DbConnection& connection);

}  // namespace editdb
