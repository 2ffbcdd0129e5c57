#pragma once

#include "Backend.h"

#include <filesystem>
#include <memory>

struct sqlite3;

namespace bench {

// SQLite files in a data directory: one pristine file per shape, kept
// between runs of the benchmark, and one working copy at a time. The floor
// runs the three statements through the sqlite3 C API on the copy.
class SqliteBackend final : public Backend {
public:
    explicit SqliteBackend(std::filesystem::path dataDirectory);
    ~SqliteBackend() override;

    std::string name() const override { return "sqlite"; }
    std::string description() const override;
    void prepare(const Shape& shape) override;
    void freshCopy(const Shape& shape) override;
    std::string connectionString() const override;
    Timing runFloor() override;
    bool engineInProcess() const override { return true; }
    Digest digest() const override;
    void discardCopy() override;
    std::string pristineConnectionString(const Shape& shape) const override;

private:
    std::filesystem::path pristinePath(const Shape& shape) const;

    std::filesystem::path dataDirectory_;
    std::filesystem::path copyPath_;
};

}  // namespace bench
