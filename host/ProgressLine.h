#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace editdb::host {

// A live line on a terminal for a statement that takes more than a moment:
// what is running and for how long, redrawn in place, and wiped when the
// statement ends. Where no terminal is attached it does nothing at all.
class ProgressLine {
public:
    // Draws on standard error if it is a terminal, else on standard output
    // if that is one; `enabled` false draws nowhere.
    explicit ProgressLine(bool enabled);
    // Wipes the line and stops the drawing thread. Never throws.
    ~ProgressLine();

    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // A statement (`text`, fit for output) has started.
    void Start(std::string text);
    // It has ended; the line is gone from the terminal once this returns.
    void Stop();

    bool Active() const noexcept { return fd_ >= 0; }

    // How long a statement runs before the line appears, and how often it is redrawn.
    static constexpr std::chrono::milliseconds delay{500};
    static constexpr std::chrono::milliseconds interval{100};

private:
    void drawLoop();
    void draw(std::chrono::steady_clock::time_point now);
    void wipe();
    void write(const std::string& bytes) const noexcept;

    int fd_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    std::chrono::steady_clock::time_point started_;
    bool running_ = false;
    bool drawn_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace editdb::host
