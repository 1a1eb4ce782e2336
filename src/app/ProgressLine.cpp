#include "app/ProgressLine.h"

#include "app/OutputSet.h"
#include "app/Signals.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace tessavo {

namespace {

constexpr auto kInterval = std::chrono::milliseconds(100);
// Back to the line's start, then clear to its end: any terminal knows both.
constexpr char kErase[] = "\r\033[K";

// A line is on the terminal; the process ends by a signal (draw no more).
std::atomic<bool> lineShown{false};
std::atomic<bool> lineHalted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs lock-free flags");

void writeError(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a terminal that is gone: the run goes on without its line
        done += static_cast<std::size_t>(n);
    }
}

int terminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::string duration(double seconds)
{
    char text[32];
    const long whole = std::lround(std::floor(seconds));
    if (seconds < 60.0)
        std::snprintf(text, sizeof text, "%.1f s", std::floor(seconds * 10.0) / 10.0);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

// Passes every byte on unchanged; the progress line is erased before each
// line and drawn again once the line is out.
class LineGuard : public std::streambuf {
public:
    LineGuard(std::streambuf* to, ProgressLine& line) : to_(to), line_(line) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        std::streamsize done = 0;
        while (done < n) {
            if (lineStart_) {
                line_.suspend();
                lineStart_ = false;
            }
            const void* end = std::memchr(s + done, '\n', static_cast<std::size_t>(n - done));
            const std::streamsize part = end ? static_cast<const char*>(end) - (s + done) + 1 : n - done;
            const std::streamsize put = to_->sputn(s + done, part);
            done += put;
            if (put != part)
                break;
            if (end) {
                to_->pubsync();
                lineStart_ = true;
                line_.resume();
            }
        }
        return done;
    }
    int sync() override { return to_->pubsync(); }

private:
    std::streambuf* to_;
    ProgressLine& line_;
    bool lineStart_ = true;
};

}  // namespace

std::string progressText(const ProgressState& state, double seconds)
{
    std::ostringstream text;
    text << '[' << duration(seconds) << "] ";
    switch (state.phase) {
    case RunPhase::reading:
        text << "reading the input";
        break;
    case RunPhase::analysing:
        text << "analysing the spectrum";
        break;
    case RunPhase::factorising: {
        text << "factorising";
        const PassReport& p = state.pass;
        if (p.pass < 1)
            break;
        // The objective as the "objective:" lines print it.
        text << ": pass " << p.pass << " of " << p.limit << ", objective " << p.objective;
        if (p.previous != 0.0 && std::isfinite(p.previous)) {
            char change[32];
            std::snprintf(change, sizeof change, "%+.2g", (p.objective - p.previous) / std::fabs(p.previous));
            text << ", change " << change;
        }
        break;
    }
    case RunPhase::grouping:
        text << "grouping the components";
        break;
    case RunPhase::writing:
        text << "rebuilding and writing the outputs";
        if (state.outputs > 0)
            text << ": " << state.written << " of " << state.outputs << " written";
        break;
    }
    return text.str();
}

std::string finalText(const std::vector<std::string>& files, double seconds)
{
    // Every output lies in one folder: the input's, or the one -d names.
    const std::string& first = files.front();
    const std::size_t slash = first.rfind('/');
    const std::size_t cut = slash == std::string::npos ? 0 : slash + 1;
    std::string text = "wrote ";
    if (files.size() <= 4) {
        for (std::size_t i = 0; i < files.size(); ++i)
            text += (i > 0 ? ", " : "") + files[i].substr(cut);
    } else {
        text += std::to_string(files.size()) + " files";
    }
    if (cut > 0)
        text += " into " + (cut == 1 ? "/" : first.substr(0, cut - 1));
    else if (files.size() > 4)
        text += " into the current folder";
    return text + " in " + duration(seconds);
}

std::string fitted(const std::string& text, int columns)
{
    int seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Continuation bytes of a UTF-8 sequence take no column of their own.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (++seen > columns)
            return text.substr(0, i);
    }
    return text;
}

void eraseProgressLine() noexcept
{
    lineHalted.store(true);
    if (lineShown.exchange(false)) {
        const ssize_t ignored = write(STDERR_FILENO, kErase, sizeof kErase - 1);
        (void)ignored;
    }
}

ProgressLine::ProgressLine(bool enabled) : active_(enabled && isatty(STDERR_FILENO) == 1)
{
    if (!active_)
        return;
    errGuard_ = std::make_unique<LineGuard>(std::cerr.rdbuf(), *this);
    err_ = std::make_unique<std::ostream>(errGuard_.get());
    err_->copyfmt(std::cerr);  // the same numbers and flushing as the stream it stands for
    // Standard output's lines need the care only on a terminal, where they
    // would land on the progress line.
    if (isatty(STDOUT_FILENO) == 1) {
        outGuard_ = std::make_unique<LineGuard>(std::cout.rdbuf(), *this);
        out_ = std::make_unique<std::ostream>(outGuard_.get());
        out_->copyfmt(std::cout);
    }
    try {
        // The thread keeps the terminating signals blocked, so that it never
        // handles one in the middle of the outputs' renaming.
        HeldSignals held;
        ticker_ = std::thread([this] { tick(); });
    } catch (const std::system_error&) {
        // No thread to spare: the line is drawn on the run's own events only.
    }
}

ProgressLine::~ProgressLine()
{
    stopTicker();
    const std::lock_guard<std::mutex> lock(mutex_);
    eraseLocked();
}

std::ostream& ProgressLine::defaultOut()
{
    return std::cout;
}

std::ostream& ProgressLine::defaultErr()
{
    return std::cerr;
}

void ProgressLine::phase(RunPhase phase)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.phase = phase;
    drawLocked();
}

void ProgressLine::pass(const PassReport& report)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.pass = report;
    if (report.last)
        drawLocked();
}

void ProgressLine::outputWritten(int written, int count)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.written = written;
    state_.outputs = count;
}

void ProgressLine::finish(OutputSet& outputs)
{
    if (!active_)
        return;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        files.push_back(outputs[i].finalName());
    stopTicker();
    const std::lock_guard<std::mutex> lock(mutex_);
    eraseLocked();
    finished_ = true;
    if (!lineHalted.load())
        writeError(finalText(files, std::chrono::duration<double>(Clock::now() - start_).count()) + "\n");
}

void ProgressLine::suspend()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    eraseLocked();
    suspended_ = true;
}

void ProgressLine::resume()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    suspended_ = false;
    // The same text again: what it shows is updated on the clock only.
    if (!text_.empty() && !finished_ && !lineHalted.load()) {
        lineShown.store(true);
        writeError(text_);
    }
}

void ProgressLine::tick()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, kInterval);
        if (!stopping_ && Clock::now() - drawn_ >= kInterval)
            drawLocked();
    }
}

void ProgressLine::drawLocked()
{
    if (!active_ || suspended_ || finished_ || lineHalted.load())
        return;
    drawn_ = Clock::now();
    const double seconds = std::chrono::duration<double>(drawn_ - start_).count();
    // One column short of the width: a full row would wrap on some terminals.
    text_ = "\r" + fitted(progressText(state_, seconds), terminalColumns() - 1) + "\033[K";
    lineShown.store(true);
    writeError(text_);
}

void ProgressLine::eraseLocked()
{
    if (lineShown.exchange(false))
        writeError(kErase);
}

void ProgressLine::stopTicker()
{
    if (!ticker_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    ticker_.join();
}

}  // namespace tessavo
