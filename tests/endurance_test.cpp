// The plug-in loaded, called and unloaded 10,000 times in one process, as a
// long-running host would over months: memory must stay flat.
//
// Two figures are sampled every 1,000 cycles: the resident set size, and
// the bytes the allocator has handed out and not had back (glibc's
// mallinfo2, or the sanitizer allocator's count in a sanitizer build). The
// latter is exact, so a leak of a few bytes a call shows in it; the former
// also catches what bypasses malloc, such as mappings left behind by the
// loader. Under AddressSanitizer freed memory is held in quarantine and
// the resident size grows for that reason alone, so there it is only
// reported.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <fstream>
#include <iostream>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of bytes handed out and not freed (from its
// public allocator interface; GCC ships the runtime but not that header).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define EDITDB_UNDER_ASAN 1
#else
#define EDITDB_UNDER_ASAN 0
#endif

using namespace testsupport;

namespace {

constexpr int kCycles = 10000;
constexpr int kWarmUp = 1000;  // one-off allocations of the libraries happen in the first calls
constexpr int kSampleEvery = 1000;

// Beyond any noise seen, far below any leak worth the name: a leak of one
// byte a call grows the heap figure by 9,000 bytes over the measured cycles,
// one SQLite statement left unfinalized a call by megabytes.
constexpr long long kHeapTolerance = 8 << 10;
constexpr long long kResidentTolerance = 1 << 20;

struct Memory {
    long long resident = 0;  // bytes
    long long heap = 0;      // bytes allocated and not freed
};

Memory Measure() {
    Memory memory;
    std::ifstream statm("/proc/self/statm");
    long long totalPages = 0, residentPages = 0;
    statm >> totalPages >> residentPages;
    memory.resident = residentPages * sysconf(_SC_PAGESIZE);
#if EDITDB_UNDER_ASAN
    memory.heap = static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    memory.heap = static_cast<long long>(info.uordblks + info.hblkhd);
#endif
    return memory;
}

long long KiB(long long bytes) { return bytes / 1024; }

bool PluginStillMapped() {
    void* handle = dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

TEST(Endurance, LoadCallUnloadTenThousandTimesKeepsMemoryFlat) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert({Row{kTargetGuid, kGroup, "A", kParent, 7, 0}, Row{"G-other", kGroup, "B", kParent, 1, 0}});
    // The host's connection, open for the whole run as a host keeps it.
    dataaccess::DbConnection connection(db.path().string());
    connection.Open();

    std::vector<Memory> samples;
    samples.reserve(kCycles / kSampleEvery);  // so that recording a sample allocates nothing
    Memory baseline;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        {
            LoadedPlugin plugin;
            plugin.Call(&connection);
        }
        if (cycle == 1) {
            ASSERT_FALSE(PluginStillMapped()) << "dlclose left the plug-in loaded: the cycles would not unload it";
        }
        if (cycle == kWarmUp) baseline = Measure();
        if (cycle % kSampleEvery == 0) samples.push_back(Measure());
    }

    EXPECT_EQ(connection.DataSetCount(), 0u);
    EXPECT_EQ(db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014 = -1 AND GZS007006 = 0"), 1);

    std::cout << "[ memory   ] cycle   resident KiB   heap in use KiB\n";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::cout << "[ memory   ] " << (static_cast<int>(i) + 1) * kSampleEvery << "   " << KiB(samples[i].resident)
                  << "   " << KiB(samples[i].heap) << '\n';
    }
    const Memory last = samples.back();
    std::cout << "[ memory   ] after warm-up to the end: resident " << (last.resident - baseline.resident)
              << " bytes, heap " << (last.heap - baseline.heap) << " bytes\n";

    EXPECT_LE(last.heap - baseline.heap, kHeapTolerance) << "the heap grew over " << kCycles - kWarmUp << " cycles";
    if (!EDITDB_UNDER_ASAN) {
        EXPECT_LE(last.resident - baseline.resident, kResidentTolerance)
            << "the resident size grew over " << kCycles - kWarmUp << " cycles";
    }
}

}  // namespace
