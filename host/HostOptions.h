#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace editdb::host {

// How the host wraps the plug-in's call in a transaction of its own.
enum class TransactionMode {
    None,         // each statement commits on its own, as the connection does by default
    Transaction,  // one transaction: committed on success, rolled back on failure
    DryRun,       // one transaction, rolled back whatever happens
};

// What the command line asks of the host program.
struct HostOptions {
    std::string text;         // handed to the plug-in as its text argument
    std::int32_t value = 0;   // handed to the plug-in as its 32-bit argument
    std::string pluginPath;
    std::string connectionString;
    TransactionMode transaction = TransactionMode::None;
    bool quiet = false;       // no report and no progress line
    bool trace = false;       // each statement on standard error as it is sent
    bool showHelp = false;
    bool showVersion = false;
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
