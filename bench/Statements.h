#pragma once

// The three statements of the correction, as the database receives them
// from the plug-in: one leading space each, and the probe followed by the
// CR LF that the query component adds. The floor runs exactly these texts;
// the benchmark checks that the plug-in still sends the same ones before it
// times anything.

namespace bench::statements {

inline constexpr const char* flagUpdate = " update GZS007 set SSSS014=-1 where GZS007004='A'";
inline constexpr const char* otherRowProbe =
    " Select * from GZS007 where GZS007002='GZU011011' AND GZS007005='A520000000000000GZSSYS002_002'"
    " AND [GUID]<>'A520000000000000GZU011011_013'\r\n";
inline constexpr const char* targetUpdate = " update GZS007 set GZS007006=0 where [GUID]='A520000000000000GZU011011_013'";

// The values the generated table is built around.
inline constexpr const char* probedGroup = "GZU011011";
inline constexpr const char* probedParent = "A520000000000000GZSSYS002_002";
inline constexpr const char* targetGuid = "A520000000000000GZU011011_013";

}  // namespace bench::statements
