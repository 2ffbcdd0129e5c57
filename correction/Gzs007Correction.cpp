#include "Gzs007Correction.h"

#include "SqlText.h"
#include "library/ConnectionAccess.h"

#include <string>

namespace editdb {
namespace {

// Plain constants, so that loading the plug-in constructs nothing.
constexpr const char* selectedFlag = "A";
constexpr const char* probedGroup = "GZU011011";
constexpr const char* probedParent = "A520000000000000GZSSYS002_002";
constexpr const char* targetGuid = "A520000000000000GZU011011_013";

// The host stores booleans as integers, true as -1.
std::string AsNumber(bool flag) { return flag ? "-1" : "0"; }

std::string FlagUpdate() {
    return " update GZS007 set SSSS014=" + AsNumber(true) + " where GZS007004=" + Quoted(selectedFlag);
}

std::string OtherRowProbe() {
    return " Select * from GZS007 where GZS007002=" + Quoted(probedGroup) + " AND GZS007005=" +
           Quoted(probedParent) + " AND [GUID]<>" + Quoted(targetGuid);
}

std::string TargetUpdate() { return " update GZS007 set GZS007006=0 where [GUID]=" + Quoted(targetGuid); }

}  // namespace

void CorrectGzs007(dataaccess::DbConnection& connection) {
    RunStatement(connection, FlagUpdate());
    ProbeQuery probe(connection);
    if (probe.Open(OtherRowProbe())) RunStatement(connection, TargetUpdate());
}

}  // namespace editdb
