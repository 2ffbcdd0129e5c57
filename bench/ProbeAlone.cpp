#include "ProbeAlone.h"

#include "Statements.h"

#include <dataaccess/DbConnection.h>
#include <dataaccess/DbQuery.h>
#include <dataaccess/Utf16.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace bench {
namespace {

// VmHWM from /proc/self/status, in KiB: the peak resident set so far.
long peakResidentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    throw std::runtime_error("/proc/self/status has no VmHWM");
}

// The probe as the plug-in hands it to its query: one line, without the
// CR LF that the query adds itself.
std::u16string probeLine() {
    std::string text = statements::otherRowProbe;
    text.resize(text.size() - 2);
    return dataaccess::fromUtf8(text);
}

// Both ends of a pipe, closed when it goes.
class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    void closeRead() { closeEnd(fds_[0]); }
    void closeWrite() { closeEnd(fds_[1]); }

private:
    static void closeEnd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

}  // namespace

int runProbeChild(const std::string& connectionString) {
    dataaccess::DbConnection connection(connectionString);
    connection.Open();
    // Reading the schema is the first statement's cost, not the probe's.
    connection.Execute(u"SELECT 1 FROM GZS007 WHERE 1=0");
    const long before = peakResidentKib();

    dataaccess::DbQuery query;
    query.Connection(&connection);
    query.SQL().assign({probeLine()});
    const Stopwatch stopwatch;
    query.Open();
    const bool found = !query.IsEmpty();
    const Duration elapsed = stopwatch.elapsed().wall;
    const long after = peakResidentKib();

    std::cout << elapsed.count() << ' ' << after << ' ' << after - before << ' '
              << found << '\n';
    return 0;
}

ProbeSample sampleProbe(const std::string& connectionString) {
    Pipe output;
    const pid_t child = ::fork();
    if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (child == 0) {
        ::dup2(output.writeEnd(), STDOUT_FILENO);
        const char* argv[] = {"/proc/self/exe", probeChildFlag, connectionString.c_str(), nullptr};
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    output.closeWrite();
    const std::string text = readAll(output.readEnd());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the probe child failed on " + connectionString);

    std::istringstream fields(text);
    long long nanoseconds = 0;
    ProbeSample sample;
    if (!(fields >> nanoseconds >> sample.peakKib >> sample.growthKib >> sample.found))
        throw std::runtime_error("the probe child printed no sample: " + text);
    sample.elapsed = Duration(nanoseconds);
    return sample;
}

}  // namespace bench
