// Preloaded into the shell of the Ctrl-C test: once the shell has started a
// child, it waits for a signal before it goes on to wait for that child.
// bash holds SIGINT back while it starts a child and lets it through just
// after, with the default action until it begins to wait: a Ctrl-C in
// between ends the shell at once, while the program it started is still
// cleaning up. Under load this happens now and then on its own; here it
// happens every time.

#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The shell's children (the program under test, perhaps built with a
// sanitizer that must be loaded first) run without this library. bash
// exports an unsetenv of its own that does nothing this early, so the entry
// is taken out of the environment directly.
__attribute__((constructor)) void leaveChildrenAlone()
{
    char** kept = environ;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "LD_PRELOAD=", 11) != 0)
            *kept++ = *entry;
    *kept = nullptr;
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
