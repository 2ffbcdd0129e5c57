#include "HostOptions.h"

#include <charconv>

namespace editdb::host {

const char* const usageText =
    "usage: editdb-host [OPTION]... PLUGIN CONNECTION\n"
    "\n"
    "Loads the correction plug-in PLUGIN, opens CONNECTION and lets the plug-in\n"
    "apply its correction through it, then reports each statement the database\n"
    "received, the rows it changed and the time it took.\n"
    "\n"
    "  PLUGIN         path of the plug-in library (for instance lib/libgzs007fix.so)\n"
    "  CONNECTION     an SQLite database file, sqlite:Database=FILE;BusyTimeout=MS,\n"
    "                 or odbc: followed by an ODBC connection string\n"
    "\n"
    "  --dry-run      run the correction in a transaction and always roll it back;\n"
    "                 the report says what would have changed\n"
    "  --transaction  run the correction in one transaction: committed if it\n"
    "                 succeeds, rolled back if any statement fails\n"
    "  --quiet        print no report and no progress line\n"
    "  --trace        print each statement on standard error as it is sent\n"
    "  --text TEXT    text argument handed to the plug-in (default: empty)\n"
    "  --value N      32-bit argument handed to the plug-in (default: 0)\n"
    "  --help         show this text\n"
    "  --version      show the program's version\n"
    "\n"
    "Without --transaction or --dry-run each statement is committed as it runs,\n"
    "and a failing correction leaves the statements before the failure applied.\n"
    "\n"
    "Exit status:\n"
    "  0  the correction was applied (with --dry-run: ran, and was rolled back)\n"
    "  1  the correction failed (rolled back with --transaction or --dry-run), or\n"
    "     the database could not be opened, or the commit or rollback failed\n"
    "  2  usage error (an unknown or malformed option, an unusable connection\n"
    "     string) or a plug-in that cannot be loaded; nothing was run\n";

namespace {

std::int32_t ParseInt32(const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        throw UsageError("--value takes a whole number from -2147483648 to 2147483647, not '" + text + "'");
    return value;
}

// Splits "--name=value" into name and value; a plain "--name" has no value.
bool SplitInlineValue(const std::string& argument, std::string& name, std::string& value) {
    const auto equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) {
        name = argument;
        return false;
    }
    name = argument.substr(0, equals);
    value = argument.substr(equals + 1);
    return true;
}

// The option that is a plain switch, or nullptr when `name` is none.
bool* SwitchNamed(HostOptions& options, const std::string& name) {
    if (name == "--quiet") return &options.quiet;
    if (name == "--trace") return &options.trace;
    if (name == "--help") return &options.showHelp;
    if (name == "--version") return &options.showVersion;
    return nullptr;
}

// A dry run is a transaction too; asking for both is a dry run.
void AskTransaction(HostOptions& options, TransactionMode mode) {
    if (options.transaction != TransactionMode::DryRun) options.transaction = mode;
}

}  // namespace

HostOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    HostOptions options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name, value;
        const bool hasInlineValue = SplitInlineValue(argument, name, value);
        auto takeValue = [&]() -> std::string {
            if (hasInlineValue) return value;
            if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
            return arguments[++i];
        };
        const bool isSwitch = SwitchNamed(options, name) || name == "--transaction" || name == "--dry-run";
        if (isSwitch && hasInlineValue) throw UsageError(name + " takes no value: '" + argument + "'");
        if (name == "--text") {
            options.text = takeValue();
        } else if (name == "--value") {
            options.value = ParseInt32(takeValue());
        } else if (name == "--transaction") {
            AskTransaction(options, TransactionMode::Transaction);
        } else if (name == "--dry-run") {
            AskTransaction(options, TransactionMode::DryRun);
        } else if (bool* flag = SwitchNamed(options, name)) {
            *flag = true;
        } else {
            throw UsageError("unknown option '" + argument + "'");
        }
    }
    if (options.showHelp || options.showVersion) return options;
    if (positional.size() != 2)
        throw UsageError("expected PLUGIN and CONNECTION, got " + std::to_string(positional.size()) + " argument(s)");
    options.pluginPath = positional[0];
    options.connectionString = positional[1];
    return options;
}

}  // namespace editdb::host
