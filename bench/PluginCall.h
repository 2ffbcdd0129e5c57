#pragma once

#include "Backend.h"

#include "Plugin.h"

#include <string>
#include <vector>

namespace bench {

// The plug-in loaded once, as the host loads it, and called on connections
// that this program makes from a backend's connection string.
class PluginCall {
public:
    explicit PluginCall(const std::string& pluginPath);

    // Opens a connection (not timed), calls Exec_EditDb on it and returns
    // the time of that call alone; the connection is closed afterwards.
    Timing run(const std::string& connectionString) const;

    // One call, not timed, that records every text the database receives,
    // in UTF-8.
    std::vector<std::string> recordStatements(const std::string& connectionString) const;

private:
    editdb::host::Plugin plugin_;
};

}  // namespace bench
