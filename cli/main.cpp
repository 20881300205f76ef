#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <ostream>

#include "cli/CliApp.h"
#include "cli/InterruptWatcher.h"
#include "cli/OutputQueue.h"
#include "cli/QueuedStreamBuf.h"
#include "serial/StandardStreams.h"

namespace {

// After an abort, how long the last lines get to reach a terminal that may
// have stopped reading; the exit must not wait for it.
constexpr std::chrono::milliseconds kAbortOutputGrace{50};

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
    // Before anything is opened: a serial port must not become stdout.
    ReopenClosedStandardStreams();
    // A reader that has gone (| head -1) must not end an upgrade half-way;
    // the writes that fail are dropped by the output queue. Before any
    // thread starts, like the blocked mask, which they inherit.
    std::signal(SIGPIPE, SIG_IGN);
    // A job in the background on a terminal with tostop would be stopped,
    // worker and all, by its next line of output, and the switch left half
    // written until someone brings it back: the line is written instead.
    std::signal(SIGTTOU, SIG_IGN);
    InterruptWatcher::BlockSignals();

    // stdout and stderr through one queue and its own thread: a terminal
    // that stops reading holds up neither the upgrade nor Ctrl-C.
    OutputQueue output;
    QueuedStreamBuf outBuffer(output, STDOUT_FILENO);
    QueuedStreamBuf errBuffer(output, STDERR_FILENO);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);

    CliApp app(out, err, std::cin, ::isatty(STDERR_FILENO) == 1, ::isatty(STDIN_FILENO) == 1);
    app.SetSharedDestination(SameDestination(STDOUT_FILENO, STDERR_FILENO));
    app.SetColumns(TerminalColumns(STDERR_FILENO));
    app.SetBeforeExit([&output] { output.DrainFor(kAbortOutputGrace); });
    InterruptWatcher watcher([&app](int signo) { app.OnSignal(signo); });
    const int status = app.Run(argc, argv);
    // With the watcher still there: a terminal that never reads again is
    // left with Ctrl-C.
    output.Drain();
    return status;
}
