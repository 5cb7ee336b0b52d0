#include "platform/ProcessLauncher.h"

#include <cerrno>
#include <climits>
#include <csignal>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
// Between the fork and the exec only async-signal-safe calls: the copy of a threaded process may
// hold locks (the allocator's among them) taken by threads that do not exist in it. Every signal is
// blocked on entry, so none of the host's handlers can run here either.
[[noreturn]] void becomeProgram(char* const* argv, char* const* envp, int maxFd)
{
    // Out of the host's session: a terminal hang-up or a signal to the host's group is not ours.
    setsid();
    // The exec resets caught signals but keeps ignored ones; the program starts with the defaults.
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s)
        sigaction(s, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Descriptors the host opened without close-on-exec would live on in a program that may run for
    // hours (a browser): sockets kept open, files kept locked. These are only this copy's.
    if (close_range(3, ~0u, 0) != 0)
        for (int fd = 3; fd < maxFd; ++fd)
            close(fd);
    execve(argv[0], argv, envp);
    _exit(127);
}
} // namespace

bool launchDetached(const std::vector<std::string>& args)
{
    if (args.empty()) return false;
    // Everything the children use is made here, before the fork: they must not allocate.
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char* const* const envp = environ;
    rlimit files = {};
    const int maxFd =
        getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
            ? static_cast<int>(files.rlim_cur < rlim_t(INT_MAX) ? files.rlim_cur : rlim_t(INT_MAX))
            : 65536;

    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    // _Fork, unlike fork, runs no handlers the host or its libraries registered with pthread_atfork
    // and is itself async-signal-safe, so the middle process may call it again.
    const pid_t middle = _Fork();
    if (middle == 0)
    {
        // The middle process exits at once: the program, its child, goes to init (or the host's
        // subreaper), which reaps it when it finishes.
        const pid_t program = _Fork();
        if (program == 0) becomeProgram(argv.data(), envp, maxFd);
        _exit(program > 0 ? 0 : 1);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (middle < 0) return false;

    // The middle process only forks and exits, so this wait never holds the message thread longer
    // than a fork takes.
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(middle, &status, 0);
    while (reaped < 0 && errno == EINTR);
    // A host that ignores SIGCHLD, or reaps every child in its own handler, leaves no status to read:
    // the fork went ahead, and how the middle process ended is not known.
    if (reaped < 0) return true;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
