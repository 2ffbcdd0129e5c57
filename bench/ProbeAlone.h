#pragma once

// The probe measured alone, each sample in a fresh child process: a
// process's peak resident set only ever grows, so one process per sample
// is the only way to see what the probe itself needed.

#include "Backend.h"

#include <string>

namespace bench {

struct ProbeSample {
    Duration elapsed{};      // DbQuery::Open and IsEmpty
    long peakKib = 0;        // VmHWM once the probe is done: the process's peak
    long growthKib = 0;      // how much of that peak the probe added
    bool found = false;
};

// The argument that makes this program a probe child.
inline constexpr const char* probeChildFlag = "--probe-child";

// The child's side: opens a connection on `connectionString`, loads the
// schema, then opens the probe through DbQuery as the plug-in does and
// prints one sample on standard output. Returns the exit status.
int runProbeChild(const std::string& connectionString);

// The parent's side: runs this program as a probe child on
// `connectionString` and reads back its sample. Throws if the child fails.
ProbeSample sampleProbe(const std::string& connectionString);

}  // namespace bench
