#include "ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace editdb::host {
namespace {

// Carriage return, then "erase to end of line": the line is redrawn in
// place and leaves nothing behind when wiped.
constexpr const char* eraseLine = "\r\033[K";

int TerminalFd() {
    if (isatty(STDERR_FILENO)) return STDERR_FILENO;
    if (isatty(STDOUT_FILENO)) return STDOUT_FILENO;
    return -1;
}

std::size_t TerminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// Keeps at most `columns` characters of UTF-8 `text`, cutting between characters.
std::string Truncated(const std::string& text, std::size_t columns) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsCharacter && ++characters > columns) return text.substr(0, i);
    }
    return text;
}

}  // namespace

ProgressLine::ProgressLine(bool enabled) : fd_(enabled ? TerminalFd() : -1) {
    if (Active()) thread_ = std::thread([this] { drawLoop(); });
}

ProgressLine::~ProgressLine() {
    if (!Active()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        wipe();
    }
    changed_.notify_all();
    thread_.join();
}

void ProgressLine::Start(std::string text) {
    if (!Active()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = std::move(text);
        started_ = std::chrono::steady_clock::now();
        running_ = true;
    }
    changed_.notify_all();
}

void ProgressLine::Stop() {
    if (!Active()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        wipe();
    }
    changed_.notify_all();
}

// Sleeps until a statement has run for `delay`, then redraws its line every
// `interval` until it ends. The lock is held while drawing, so that Stop
// cannot wipe the line and see it drawn again just after.
void ProgressLine::drawLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (!running_) {
            changed_.wait(lock);
            continue;
        }
        const auto started = started_;
        const auto now = std::chrono::steady_clock::now();
        if (now - started < delay) {
            changed_.wait_until(lock, started + delay);
            continue;
        }
        draw(now);
        changed_.wait_for(lock, interval, [&] { return quit_ || !running_ || started_ != started; });
    }
}

void ProgressLine::draw(std::chrono::steady_clock::time_point now) {
    char elapsed[48];
    std::snprintf(elapsed, sizeof elapsed, "running for %.1f s: ",
                  std::chrono::duration<double>(now - started_).count());
    const std::string statement = text_.substr(std::min(text_.find_first_not_of(' '), text_.size()));
    // One column is kept free: writing into the last one makes some terminals wrap.
    const std::size_t room = TerminalColumns(fd_) - 1;
    write(eraseLine + Truncated(elapsed + statement, room));
    drawn_ = true;
}

void ProgressLine::wipe() {
    if (drawn_) write(eraseLine);
    drawn_ = false;
}

void ProgressLine::write(const std::string& bytes) const noexcept {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;  // a terminal gone away is no reason to fail the correction
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace editdb::host
