// editdb-host: loads a correction plug-in and lets it correct a database
// through a connection that this program owns, as the host application does.

#include "HostOptions.h"
#include "Plugin.h"

#include <dataaccess/DatabaseError.h>
#include <dataaccess/DbConnection.h>

#include <iostream>

namespace {

using namespace editdb::host;

enum ExitStatus : int { applied = 0, correctionFailed = 1, usageOrLoadError = 2 };

// The database's message goes out as it came, on a line of its own; the
// statement it refused follows, so the user knows which step failed.
void ReportDatabaseError(const dataaccess::DatabaseError& error) {
    std::cerr << error.what() << '\n';
    if (!error.statement().empty()) std::cerr << "statement:" << error.statement() << '\n';
}

int RunCorrection(const HostOptions& options) {
    const Plugin plugin(options.pluginPath);
    dataaccess::DbConnection connection(options.connectionString);
    connection.Open();
    plugin.ExecEditDb()(&connection, options.text.c_str(), options.value);
    connection.Close();
    return applied;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const HostOptions options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (options.showHelp) {
            std::cout << usageText;
            return applied;
        }
        return RunCorrection(options);
    } catch (const UsageError& error) {
        std::cerr << "editdb-host: " << error.what() << "\n\n" << usageText;
        return usageOrLoadError;
    } catch (const PluginError& error) {
        std::cerr << "editdb-host: " << error.what() << '\n';
        return usageOrLoadError;
    } catch (const dataaccess::DatabaseError& error) {
        ReportDatabaseError(error);
        return correctionFailed;
    } catch (const std::exception& error) {
        std::cerr << "editdb-host: " << error.what() << '\n';
        return correctionFailed;
    }
}
