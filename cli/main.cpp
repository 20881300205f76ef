#include <chrono>
#include <iostream>
#include <ostream>

#include "cli/CliApp.h"
#include "cli/Console.h"
#include "cli/InterruptWatcher.h"
#include "cli/OutputQueue.h"
#include "cli/QueuedStreamBuf.h"
#include "serial/StandardStreams.h"

namespace {

// After an abort, how long the last lines get to reach a terminal that may
// have stopped reading; the exit must not wait for it.
constexpr std::chrono::milliseconds kAbortOutputGrace{50};

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kStderr = 2;

} // namespace

int main(int argc, char* argv[])
{
    // Before anything is opened: a serial port must not become stdout.
    ReopenClosedStandardStreams();
    // Before any thread starts: they inherit what is ignored and blocked.
    Console::PrepareProcess();
    InterruptWatcher::BlockSignals();

    // stdout and stderr through one queue and its own thread: a terminal
    // that stops reading holds up neither the upgrade nor Ctrl-C.
    OutputQueue output;
    QueuedStreamBuf outBuffer(output, kStdout);
    QueuedStreamBuf errBuffer(output, kStderr);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);

    CliApp app(out, err, std::cin, Console::IsTerminal(kStderr), Console::IsTerminal(kStdin));
    app.SetSharedDestination(Console::SameDestination(kStdout, kStderr));
    app.SetColumns(Console::Columns(kStderr));
    app.SetBeforeExit([&output] { output.DrainFor(kAbortOutputGrace); });
    InterruptWatcher watcher([&app](int signo) { app.OnSignal(signo); });
    const int status = app.Run(argc, argv);
    // With the watcher still there: a terminal that never reads again is
    // left with Ctrl-C.
    output.Drain();
    return status;
}
