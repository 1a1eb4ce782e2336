#pragma once
// What the terminating signals do: remove every unfinished output, then end
// the process by the same signal with its default action, so that the
// caller (a shell loop, a batch tool) sees the program killed by it and stops
// as it would for any other program.

#include <csignal>

namespace tessavo {

// Installs the handler for INT, TERM, HUP, QUIT, USR1, USR2, ALRM, VTALRM,
// PROF, XCPU, XFSZ and PIPE; a signal that the caller ignores (nohup, a
// batch system) stays ignored.
void installTerminationHandlers();

// Holds the terminating signals back on the calling thread while it lives,
// so that a set of renames is done whole; a signal that came meanwhile ends
// the process as soon as the object is gone.
class HeldSignals {
public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t saved_;
};

}  // namespace tessavo
