// Preloaded into the shell of the Ctrl-C test: once the shell has started a
// child, it waits for a signal before it goes on to wait for that child.
// bash holds SIGINT back while it starts a child and lets it through just
// after, with the default action until it begins to wait: a Ctrl-C in
// between ends the shell at once, while the program it started is still
// cleaning up. Under load this happens now and then on its own; here it
// happens every time.

#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The shell's children (the program under test) run without this library.
__attribute__((constructor)) void leaveChildrenAlone()
{
    unsetenv("LD_PRELOAD");
}

}  // namespace

extern "C" pid_t fork()
{
    using Fork = pid_t (*)();
    static const auto real = reinterpret_cast<Fork>(dlsym(RTLD_NEXT, "fork"));
    const pid_t pid = real();
    if (pid > 0) {
        sigset_t none;
        sigemptyset(&none);
        sigsuspend(&none);
    }
    return pid;
}
