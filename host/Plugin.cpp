#include "Plugin.h"

#include <dlfcn.h>

namespace editdb::host {
namespace {

std::string LastDlError() {
    const char* message = dlerror();
    return message ? message : "unknown error";
}

}  // namespace

// RTLD_NOW resolves every symbol up front, so a plug-in built against another
// data-access library fails here rather than half-way through the correction.
// RTLD_LOCAL keeps its symbols out of the way of the next plug-in loaded.
Plugin::Plugin(const std::string& path) {
    // dlopen searches the library path for a name without '/'; a plug-in is
    // named by its path, as given.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw PluginError("cannot load plug-in: " + LastDlError());
    dlerror();
    void* symbol = dlsym(handle_, "Exec_EditDb");
    if (!symbol) {
        const std::string message = "plug-in " + path + " has no export Exec_EditDb";
        dlclose(handle_);
        throw PluginError(message);
    }
    execEditDb_ = reinterpret_cast<ExecEditDbFunction>(symbol);
}

Plugin::~Plugin() { dlclose(handle_); }

}  // namespace editdb::host
