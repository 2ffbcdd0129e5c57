#pragma once

// A database engine the benchmark runs on. The call side is the same for
// every engine (the plug-in on a DbConnection made from connectionString());
// a backend supplies the fresh copies and the floor: the correction's three
// statements run by the engine's own client, without the plug-in and the
// data-access layer.
//
// Both sides time the same window: the statements alone, on a connection
// that is already open, as the host's connection is when it calls the
// plug-in. Laying a copy, opening and closing are outside it. A backend
// whose floor cannot exclude connecting (a command-line client, say) must
// report that cost separately, so that the two windows stay alike.

#include "Dataset.h"
#include "Stopwatch.h"

#include <string>

namespace bench {

class Backend {
public:
    virtual ~Backend() = default;

    virtual std::string name() const = 0;
    // A line on the engine and where its data lives, for the report.
    virtual std::string description() const = 0;

    // Makes the pristine table of `shape`, once; later calls find it made.
    virtual void prepare(const Shape& shape) = 0;

    // Replaces the working database with a fresh copy of the pristine table
    // of `shape`, settled so that nothing left from laying it is paid for in
    // the run (written through, and read once so that it is cached).
    virtual void freshCopy(const Shape& shape) = 0;
    // The connection string of the working database, for the call side.
    virtual std::string connectionString() const = 0;
    // Runs the floor on the working database and returns its time.
    virtual Timing runFloor() = 0;
    // Whether the engine does its work inside this process, so that the
    // process's processor time covers it on both sides.
    virtual bool engineInProcess() const = 0;
    // Reads back what the correction left in the working database.
    virtual Digest digest() const = 0;
    // Removes the working database.
    virtual void discardCopy() = 0;

    // A connection string on the pristine table of `shape`, for read-only
    // work such as the probe measured alone.
    virtual std::string pristineConnectionString(const Shape& shape) const = 0;
};

}  // namespace bench
