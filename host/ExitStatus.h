#pragma once

namespace editdb::host {

// The host program's exit status, as --help and the README describe it.
enum ExitStatus : int {
    applied = 0,           // applied; or a dry run that ran and was rolled back
    correctionFailed = 1,  // the correction, its commit or its rollback failed
    usageOrLoadError = 2,  // nothing was run
};

}  // namespace editdb::host
