#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace editdb::host {

// What the command line asks of the host program.
struct HostOptions {
    std::string text;         // handed to the plug-in as its text argument
    std::int32_t value = 0;   // handed to the plug-in as its 32-bit argument
    std::string pluginPath;
    std::string connectionString;
    bool showHelp = false;
};

// A command line that cannot be run; its message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments after the program name. Throws UsageError.
HostOptions ParseCommandLine(const std::vector<std::string>& arguments);

extern const char* const usageText;

}  // namespace editdb::host
