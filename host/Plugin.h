#pragma once

#include "editdb.h"

#include <stdexcept>
#include <string>

namespace editdb::host {

// A plug-in that cannot be loaded or lacks its export.
class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A loaded plug-in library; unloaded when destroyed.
class Plugin {
public:
    // Loads the library at `path` and resolves Exec_EditDb. Throws PluginError.
    explicit Plugin(const std::string& path);
    ~Plugin();

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    ExecEditDbFunction ExecEditDb() const noexcept { return execEditDb_; }

private:
    void* handle_ = nullptr;
    ExecEditDbFunction execEditDb_ = nullptr;
};

}  // namespace editdb::host
