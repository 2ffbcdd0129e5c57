// editdb-bench: what a call of the plug-in costs beside the database's own
// work on the same three statements, and what the probe costs alone.
//
// For each table size and number of probe matches, the call (Exec_EditDb
// through the data-access layer, the plug-in loaded with dlopen) and the
// floor (the statements straight on the engine's C API) each run several
// times, alternating, every run on a fresh copy of the same generated
// table. The report gives their medians and the ratio call/floor.

#include "Backend.h"
#include "PluginCall.h"
#include "ProbeAlone.h"
#include "SqliteBackend.h"
#include "Statements.h"
#include "Stats.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr const char* usageText =
    "usage: editdb-bench [--rows N,N,...] [--large] [--runs N] [--probe-rows N] [--probe-runs N]\n"
    "                    [--small-runs N] [--data DIR] [--plugin PATH]\n"
    "  --rows        table sizes (default 10000,100000)\n"
    "  --large       add the 1000000-row table\n"
    "  --runs        runs of each side per table (default 15)\n"
    "  --probe-rows  size of the probe's own table (default 200000)\n"
    "  --probe-runs  samples of the probe per match count (default 7)\n"
    "  --small-runs  runs of each side on the small table that shows the layer's own cost (default 101)\n"
    "  --data        where the generated tables and the working copy live\n"
    "  --plugin      the plug-in to load (default: the one this build made)\n";

struct Options {
    std::vector<std::int64_t> sizes{10000, 100000};
    int runs = 15;
    std::int64_t probeRows = 200000;
    int probeRuns = 7;
    int smallRuns = 101;
    std::string dataDirectory = EDITDB_BENCH_DATA_DIR;
    std::string pluginPath = EDITDB_PLUGIN_PATH;
    bool showHelp = false;
};

std::int64_t parseCount(const std::string& text, const std::string& option) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value <= 0) throw std::invalid_argument(option + " needs a positive whole number: " + text);
    return value;
}

std::vector<std::int64_t> parseSizes(const std::string& text) {
    std::vector<std::int64_t> sizes;
    std::istringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) sizes.push_back(parseCount(item, "--rows"));
    return sizes;
}

Options parseOptions(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") options.showHelp = true;
        else if (arg == "--rows") options.sizes = parseSizes(value());
        else if (arg == "--large") options.sizes.push_back(1000000);
        else if (arg == "--runs") options.runs = static_cast<int>(parseCount(value(), arg));
        else if (arg == "--probe-rows") options.probeRows = parseCount(value(), arg);
        else if (arg == "--probe-runs") options.probeRuns = static_cast<int>(parseCount(value(), arg));
        else if (arg == "--small-runs") options.smallRuns = static_cast<int>(parseCount(value(), arg));
        else if (arg == "--data") options.dataDirectory = value();
        else if (arg == "--plugin") options.pluginPath = value();
        else throw std::invalid_argument("unknown argument: " + arg);
    }
    std::sort(options.sizes.begin(), options.sizes.end());
    options.sizes.erase(std::unique(options.sizes.begin(), options.sizes.end()), options.sizes.end());
    return options;
}

// Probe matches from none to 100k, each at most half the table (they all
// lie in its second half).
std::vector<std::int64_t> matchCounts(std::int64_t rows) {
    std::vector<std::int64_t> counts;
    for (std::int64_t wanted : {0, 1, 1000, 100000}) {
        const std::int64_t count = std::min(wanted, rows / 2);
        if (counts.empty() || counts.back() != count) counts.push_back(count);
    }
    return counts;
}

std::string firstLineStartingWith(const char* file, const std::string& prefix) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return line;
    return "unknown";
}

std::string afterColon(const std::string& line) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) return line;
    const auto start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
}

void printMachine(std::ostream& out) {
    out << "machine: " << std::thread::hardware_concurrency() << " cores, "
        << afterColon(firstLineStartingWith("/proc/cpuinfo", "model name")) << ", memory "
        << afterColon(firstLineStartingWith("/proc/meminfo", "MemTotal")) << '\n';
}

void progress(const std::string& what) { std::cerr << "editdb-bench: " << what << std::endl; }

// Each run's time, in the order run, for the progress lines.
std::string joined(const std::vector<double>& samples) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1);
    for (double sample : samples) text << ' ' << sample;
    return text.str();
}

// Before anything is timed: the plug-in must send exactly the texts the
// floor runs, or the two sides would not be doing the same work.
void checkSameStatements(Backend& backend, const PluginCall& call, const Shape& shape) {
    const std::vector<std::string> expected = {statements::flagUpdate, statements::otherRowProbe,
                                               statements::targetUpdate};
    backend.freshCopy(shape);
    const std::vector<std::string> sent = call.recordStatements(backend.connectionString());
    backend.discardCopy();
    if (sent != expected) {
        std::ostringstream message;
        message << "the plug-in no longer sends the floor's statements; it sent:";
        for (const std::string& text : sent) message << "\n  [" << text << ']';
        throw std::runtime_error(message.str());
    }
}

// The times of one side's runs, in milliseconds.
struct Side {
    std::vector<double> wallMs;
    std::vector<double> cpuMs;

    void add(const Timing& timing) {
        wallMs.push_back(milliseconds(timing.wall));
        cpuMs.push_back(milliseconds(timing.cpu));
    }
};

struct Comparison {
    Shape shape;
    Side call;
    Side floor;

    double ratio() const { return median(call.wallMs) / median(floor.wallMs); }
    double cpuRatio() const { return median(call.cpuMs) / median(floor.cpuMs); }
};

// One run of one side on a fresh copy; the copy is checked afterwards, so
// that a side that skipped part of the work cannot pass for a fast one.
Timing timedRun(Backend& backend, const Shape& shape, bool callSide, const PluginCall& call) {
    backend.freshCopy(shape);
    const Timing timing = callSide ? call.run(backend.connectionString()) : backend.runFloor();
    const Digest found = backend.digest();
    backend.discardCopy();
    const Digest expected = expectedAfterCorrection(shape);
    if (!(found == expected))
        throw std::runtime_error(std::string(callSide ? "the call" : "the floor") + " on " + shape.key() +
                                 " left " + describe(found) + "; expected " + describe(expected));
    return timing;
}

// The sides alternate, and swap which goes first on every other run, so
// that a drift in the machine's speed falls on both alike. A first pair is
// run and thrown away: the first runs after a table is made are slower on
// both sides, while the system settles.
Comparison compare(Backend& backend, const PluginCall& call, const Shape& shape, int runs) {
    timedRun(backend, shape, true, call);
    timedRun(backend, shape, false, call);
    Comparison result{shape, {}, {}};
    for (int run = 0; run < runs; ++run) {
        const bool callFirst = run % 2 == 0;
        for (bool callSide : {callFirst, !callFirst})
            (callSide ? result.call : result.floor).add(timedRun(backend, shape, callSide, call));
    }
    return result;
}

struct ProbeResult {
    Shape shape;
    std::vector<double> ms;
    std::vector<double> peakKib;
    std::vector<double> growthKib;
};

// Samples go round the match counts in turn, for the same reason the
// sides alternate. Each shape's first sample is thrown away: it warms the
// file's pages in the system's cache.
std::vector<ProbeResult> measureProbe(Backend& backend, std::int64_t rows, int runs) {
    std::vector<ProbeResult> results;
    for (std::int64_t matches : {0, 1, 1000, 100000}) results.push_back({Shape{rows, matches}, {}, {}, {}});
    for (ProbeResult& result : results) {
        progress("making the probe's table " + result.shape.key());
        backend.prepare(result.shape);
        sampleProbe(backend.pristineConnectionString(result.shape));
    }
    for (int run = 0; run < runs; ++run) {
        for (ProbeResult& result : results) {
            const ProbeSample sample = sampleProbe(backend.pristineConnectionString(result.shape));
            if (sample.found != (result.shape.matches > 0))
                throw std::runtime_error("the probe's answer is wrong on " + result.shape.key());
            result.ms.push_back(milliseconds(sample.elapsed));
            result.peakKib.push_back(static_cast<double>(sample.peakKib));
            result.growthKib.push_back(static_cast<double>(sample.growthKib));
        }
    }
    return results;
}

// Wall-clock medians and their ratio, then the ratio of processor times
// (where the engine runs in this process), then how far a typical run of
// either side strayed from its median.
void printComparisons(std::ostream& out, const std::vector<Comparison>& comparisons, int runs, bool cpuComparable) {
    out << "\nthe call beside the floor (medians of " << runs << " runs each, wall-clock ms)\n";
    out << std::setw(9) << "rows" << std::setw(9) << "matches" << std::setw(11) << "call" << std::setw(11) << "floor"
        << std::setw(12) << "call-floor" << std::setw(8) << "ratio" << std::setw(11) << "cpu ratio" << std::setw(10)
        << "spread %" << '\n';
    out << std::fixed;
    for (const Comparison& c : comparisons) {
        const double callMedian = median(c.call.wallMs);
        const double floorMedian = median(c.floor.wallMs);
        const double spread = std::max(relativeSpread(c.call.wallMs), relativeSpread(c.floor.wallMs)) * 100;
        out << std::setw(9) << c.shape.rows << std::setw(9) << c.shape.matches << std::setprecision(3)
            << std::setw(11) << callMedian << std::setw(11) << floorMedian << std::setw(12) << callMedian - floorMedian
            << std::setw(8) << c.ratio() << std::setw(11);
        if (cpuComparable) out << c.cpuRatio();
        else out << "-";
        out << std::setprecision(1) << std::setw(10) << spread << '\n';
    }
}

void printProbe(std::ostream& out, const std::vector<ProbeResult>& results, int runs) {
    const Shape& any = results.front().shape;
    out << "\nthe probe alone on " << any.rows << " rows, first match at row " << any.rows / 2
        << " (medians of " << runs << " child processes each)\n";
    out << std::setw(9) << "matches" << std::setw(11) << "probe ms" << std::setw(15) << "peak RSS KiB"
        << std::setw(15) << "growth KiB" << '\n';
    for (const ProbeResult& r : results) {
        out << std::setw(9) << r.shape.matches << std::setprecision(3) << std::setw(11) << median(r.ms)
            << std::setprecision(0) << std::setw(15) << median(r.peakKib) << std::setw(15) << median(r.growthKib)
            << (r.shape.matches == 0 ? "   (no match: scans the whole table)" : "") << '\n';
    }
}

// On a table this small the database has almost nothing to do, so what
// the call takes beyond the floor is the plug-in's and the layer's own
// cost. Processor time shows it best: it leaves out the waits for the disk
// that make up most of the wall-clock time here. Set beside each size's
// floor, it says what ratio the larger tables would show without noise.
void printOwnCost(std::ostream& out, const Comparison& small, const std::vector<Comparison>& comparisons,
                  bool cpuComparable) {
    const double wallCostUs = (median(small.call.wallMs) - median(small.floor.wallMs)) * 1000;
    const double cpuCostUs = (median(small.call.cpuMs) - median(small.floor.cpuMs)) * 1000;
    out << "\nthe plug-in's own cost: call and floor on " << small.shape.rows << " rows, " << small.call.wallMs.size()
        << " runs each (medians, microseconds)\n";
    out << std::setprecision(1) << "  wall-clock: call " << median(small.call.wallMs) * 1000 << ", floor "
        << median(small.floor.wallMs) * 1000 << ", call-floor " << wallCostUs << '\n';
    if (!cpuComparable) return;
    out << "  processor:  call " << median(small.call.cpuMs) * 1000 << ", floor " << median(small.floor.cpuMs) * 1000
        << ", call-floor " << cpuCostUs << '\n';
    std::map<std::int64_t, double> smallestFloorMs;
    for (const Comparison& c : comparisons) {
        const double floorMs = median(c.floor.wallMs);
        auto [entry, added] = smallestFloorMs.emplace(c.shape.rows, floorMs);
        if (!added) entry->second = std::min(entry->second, floorMs);
    }
    for (const auto& [rows, floorMs] : smallestFloorMs)
        out << "  that cost beside the fastest floor at " << rows << " rows (" << std::setprecision(1) << floorMs
            << " ms): ratio " << std::setprecision(5) << 1 + cpuCostUs / 1000 / floorMs << '\n';
}

// One line per size: the highest ratio over its match counts.
void printRatios(std::ostream& out, const std::vector<Comparison>& comparisons) {
    std::map<std::int64_t, double> worst;
    for (const Comparison& c : comparisons) worst[c.shape.rows] = std::max(worst[c.shape.rows], c.ratio());
    out << '\n' << std::setprecision(3);
    for (const auto& [rows, ratio] : worst) out << "ratio call/floor at " << rows << " rows: " << ratio << '\n';
}

int runBenchmark(const Options& options) {
    SqliteBackend backend(options.dataDirectory);
    const PluginCall call(options.pluginPath);

    const Shape smallShape{100, 1};
    backend.prepare(smallShape);
    checkSameStatements(backend, call, smallShape);
    progress("timing " + smallShape.key());
    const Comparison small = compare(backend, call, smallShape, options.smallRuns);

    std::vector<Comparison> comparisons;
    for (std::int64_t rows : options.sizes) {
        for (std::int64_t matches : matchCounts(rows)) {
            const Shape shape{rows, matches};
            progress("making table " + shape.key());
            backend.prepare(shape);
            progress("timing " + shape.key());
            comparisons.push_back(compare(backend, call, shape, options.runs));
            progress("  call  ms: " + joined(comparisons.back().call.wallMs));
            progress("  floor ms: " + joined(comparisons.back().floor.wallMs));
        }
    }
    const std::vector<ProbeResult> probe = measureProbe(backend, options.probeRows, options.probeRuns);

    std::cout << "editdb-bench: " << backend.description() << "; plug-in " << options.pluginPath << '\n';
    printMachine(std::cout);
    printComparisons(std::cout, comparisons, options.runs, backend.engineInProcess());
    printOwnCost(std::cout, small, comparisons, backend.engineInProcess());
    printProbe(std::cout, probe, options.probeRuns);
    printRatios(std::cout, comparisons);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 2 && args[0] == probeChildFlag) return runProbeChild(args[1]);
        const Options options = parseOptions(args);
        if (options.showHelp) {
            std::cout << usageText;
            return 0;
        }
        return runBenchmark(options);
    } catch (const std::invalid_argument& error) {
        std::cerr << "editdb-bench: " << error.what() << "\n\n" << usageText;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "editdb-bench: " << error.what() << '\n';
        return 1;
    }
}
