#pragma once

#include <chrono>
#include <ctime>

namespace bench {

using Duration = std::chrono::nanoseconds;

// One timed window: the wall-clock time a user waits, and the processor
// time this process spent in it. The latter leaves out the time the
// process waited for the disk or for other processes on the machine's
// cores, so it stays steady on a busy machine; it covers the engine's work
// only where the engine runs inside this process.
struct Timing {
    Duration wall{};
    Duration cpu{};
};

class Stopwatch {
public:
    Stopwatch() : wallStart_(std::chrono::steady_clock::now()), cpuStart_(processCpu()) {}

    Timing elapsed() const {
        const Duration cpu = processCpu() - cpuStart_;
        return {std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - wallStart_), cpu};
    }

private:
    static Duration processCpu() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + Duration(now.tv_nsec);
    }

    std::chrono::steady_clock::time_point wallStart_;
    Duration cpuStart_;
};

}  // namespace bench
