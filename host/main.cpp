// editdb-host: loads a correction plug-in and lets it correct a database
// through a connection that this program owns, as the host application does.

#include "CorrectionRun.h"
#include "ExitStatus.h"
#include "HostOptions.h"
#include "OutputFilter.h"
#include "Plugin.h"

#include <iostream>

namespace {

using namespace editdb::host;

int RunCorrection(const HostOptions& options) {
    const OutputFilter filter(options.connectionString);
    try {
        const Plugin plugin(options.pluginPath);
        CorrectionRun run(options, filter);
        return run.Run(plugin.ExecEditDb());
    } catch (const PluginError& error) {
        std::cerr << "editdb-host: " << filter(std::string_view(error.what())) << '\n';
        return usageOrLoadError;
    } catch (const std::invalid_argument& error) {
        // A connection string that no provider can use: nothing was sent.
        std::cerr << "editdb-host: " << filter(std::string_view(error.what())) << '\n';
        return usageOrLoadError;
    } catch (const std::exception& error) {
        std::cerr << "editdb-host: " << filter(std::string_view(error.what())) << '\n';
        return correctionFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "editdb-host: " << error.what() << "\n\n" << usageText;
        return usageOrLoadError;
    }
    if (options.showHelp) {
        std::cout << usageText;
        return applied;
    }
    if (options.showVersion) {
        std::cout << "editdb-host " << EDITDB_VERSION << '\n';
        return applied;
    }
    return RunCorrection(options);
}
