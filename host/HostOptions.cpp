#include "HostOptions.h"

#include <charconv>

namespace editdb::host {

const char* const usageText =
    "usage: editdb-host [--text TEXT] [--value N] PLUGIN CONNECTION\n"
    "\n"
    "Loads the correction plug-in PLUGIN, opens CONNECTION and lets the plug-in\n"
    "apply its correction through it.\n"
    "\n"
    "  PLUGIN       path of the plug-in library (for instance lib/libgzs007fix.so)\n"
    "  CONNECTION   an SQLite database file, sqlite:Database=FILE;BusyTimeout=MS, or odbc:ODBC-STRING\n"
    "  --text TEXT  text argument handed to the plug-in (default: empty)\n"
    "  --value N    32-bit argument handed to the plug-in (default: 0)\n"
    "  --help       show this text\n"
    "\n"
    "Exit status: 0 applied, 1 the correction failed, 2 usage or loading error.\n";

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
        if (name == "--text") {
            options.text = takeValue();
        } else if (name == "--value") {
            options.value = ParseInt32(takeValue());
        } else if (name == "--help" && !hasInlineValue) {
            options.showHelp = true;
        } else {
            throw UsageError("unknown option '" + argument + "'");
        }
    }
    if (options.showHelp) return options;
    if (positional.size() != 2)
        throw UsageError("expected PLUGIN and CONNECTION, got " + std::to_string(positional.size()) + " argument(s)");
    options.pluginPath = positional[0];
    options.connectionString = positional[1];
    return options;
}

}  // namespace editdb::host
