#include "PluginCall.h"

#include <dataaccess/DbConnection.h>
#include <dataaccess/Utf16.h>


namespace bench {

PluginCall::PluginCall(const std::string& pluginPath) : plugin_(pluginPath) {}

// As the host does it: the connection is open before the call and closed
// after it; only the call is inside the window.
Timing PluginCall::run(const std::string& connectionString) const {
    dataaccess::DbConnection connection(connectionString);
    connection.Open();
    const Stopwatch stopwatch;
    plugin_.ExecEditDb()(&connection, "", 0);
    const Timing timing = stopwatch.elapsed();
    connection.Close();
    return timing;
}

std::vector<std::string> PluginCall::recordStatements(const std::string& connectionString) const {
    std::vector<std::string> texts;
    dataaccess::DbConnection connection(connectionString);
    connection.OnWillExecute([&texts](std::u16string_view text) { texts.push_back(dataaccess::toUtf8(text)); });
    connection.Open();
    plugin_.ExecEditDb()(&connection, "", 0);
    connection.Close();
    return texts;
}

}  // namespace bench
