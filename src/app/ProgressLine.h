#pragma once
// The progress line: while a run works, one line on standard error, drawn
// over itself, with the time so far, the step and, while the factorisation
// runs, the pass against its limit, the objective and its relative change;
// at the end one line that stays, naming the outputs and the time taken.
//
// Only for a terminal: with standard error a file or a pipe, or with -s,
// nothing is drawn and no thread is started. The line is redrawn about ten
// times a second (the clock decides when, never what) and at once when a
// step begins or the last pass is done. Standard output's bytes never
// change: the run writes its lines through out() and err(), which erase the
// progress line before a line and draw it again after.

#include "separation/RunObserver.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace tessavo {

class OutputSet;

// What the line shows.
struct ProgressState {
    RunPhase phase = RunPhase::reading;
    PassReport pass{0, 0, 0.0, 0.0, false};  // pass 0: none yet
    int written = 0;                         // outputs complete, of
    int outputs = 0;                         // (0: not yet known)
};

// The line for state at seconds into the run, whole.
std::string progressText(const ProgressState& state, double seconds);
// The line kept at the end: the files' names when there are at most four,
// else how many, their folder (not named when it is the current one), and
// the time taken. files: one or more, all in one folder.
std::string finalText(const std::vector<std::string>& files, double seconds);
// text cut to at most columns characters (UTF-8 sequences kept whole).
std::string fitted(const std::string& text, int columns);

// Erases the progress line if one is shown and draws none after; for the
// signal handler (async-signal-safe).
void eraseProgressLine() noexcept;

class ProgressLine : public RunObserver {
public:
    // Draws only when enabled and standard error is a terminal.
    explicit ProgressLine(bool enabled);
    // Erases a line still shown (a run that failed), before the error.
    ~ProgressLine() override;
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // The observer for the separation: null when nothing is drawn.
    RunObserver* observer() { return active_ ? this : nullptr; }
    // Standard output and standard error for the run's own lines.
    std::ostream& out() { return out_ ? *out_ : defaultOut(); }
    std::ostream& err() { return err_ ? *err_ : defaultErr(); }

    void phase(RunPhase phase) override;
    void pass(const PassReport& report) override;
    void outputWritten(int written, int count) override;

    // Replaces the progress line by the final line naming the outputs.
    void finish(OutputSet& outputs);

    // For the guards of out() and err(): a line of their own begins, or ends.
    void suspend();
    void resume();

private:
    using Clock = std::chrono::steady_clock;
    static std::ostream& defaultOut();
    static std::ostream& defaultErr();
    void tick();
    void drawLocked();
    void eraseLocked();
    void stopTicker();

    bool active_ = false;
    Clock::time_point start_ = Clock::now();
    std::mutex mutex_;  // guards everything below and the terminal
    std::condition_variable wake_;
    ProgressState state_;
    std::string text_;        // the line as last drawn
    Clock::time_point drawn_;  // when
    bool suspended_ = false;  // a line of the run's own is being written
    bool stopping_ = false;
    bool finished_ = false;
    std::thread ticker_;
    std::unique_ptr<std::streambuf> outGuard_, errGuard_;
    std::unique_ptr<std::ostream> out_, err_;
};

}  // namespace tessavo
