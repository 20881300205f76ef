#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include "cli/CliApp.h"
#include "cli/InterruptWatcher.h"

namespace {

// stdout and stderr reach one terminal, file or pipe (2>&1).
bool SameDestination(int a, int b)
{
    struct stat first {};
    struct stat second {};
    if (::fstat(a, &first) != 0 || ::fstat(b, &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int TerminalColumns(int fd)
{
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

} // namespace

int main(int argc, char* argv[])
{
    // First of all: the threads started later inherit the blocked mask.
    InterruptWatcher::BlockSignals();

    CliApp app(std::cout, std::cerr, std::cin, ::isatty(STDERR_FILENO) == 1,
               ::isatty(STDIN_FILENO) == 1);
    app.SetSharedDestination(SameDestination(STDOUT_FILENO, STDERR_FILENO));
    app.SetColumns(TerminalColumns(STDERR_FILENO));
    InterruptWatcher watcher([&app](int signo) { app.OnSignal(signo); });
    return app.Run(argc, argv);
}
