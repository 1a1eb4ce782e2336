#include "app/Signals.h"

#include "app/PendingFile.h"
#include "app/ProgressLine.h"

#include <atomic>
#include <csignal>
#include <cerrno>
#include <unistd.h>

namespace tessavo {

namespace {

constexpr int kTerminating[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,
                                SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPIPE};

sigset_t terminatingSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : kTerminating)
        sigaddset(&set, s);
    return set;
}

extern "C" void onTerminatingSignal(int signalNumber)
{
    // Several threads may be sent signals at once (two writers passing the
    // file size limit): the first cleans up and ends the process, the others
    // wait for that.
    static std::atomic<bool> handling{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs a lock-free flag");
    if (handling.exchange(true))
        for (;;)
            pause();
    const int savedErrno = errno;
    eraseProgressLine();  // nothing half drawn before the note or the shell's prompt
    removePendingFiles();
    if (signalNumber == SIGXFSZ) {
        // The kernel sends this when a write passes the file size limit; the
        // shell's own note ("File size limit exceeded") names no file.
        static const char note[] = "Not able to write the output files: they exceed the file size limit (ulimit -f)\n";
        ssize_t ignored = write(STDOUT_FILENO, note, sizeof note - 1);
        (void)ignored;
    }
    // The signal stays blocked until the handler returns; then, with its
    // default action back, it ends the process.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signalNumber, &dfl, nullptr);
    raise(signalNumber);
    errno = savedErrno;
}

}  // namespace

void installTerminationHandlers()
{
    struct sigaction action {};
    action.sa_handler = onTerminatingSignal;
    // While one terminating signal is handled, the others wait: cleaning up
    // happens once.
    action.sa_mask = terminatingSet();
    for (int s : kTerminating) {
        struct sigaction old {};
        sigaction(s, nullptr, &old);
        if (old.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
}

HeldSignals::HeldSignals()
{
    const sigset_t set = terminatingSet();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

HeldSignals::~HeldSignals()
{
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace tessavo
