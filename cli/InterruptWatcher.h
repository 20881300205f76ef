#pragma once

#include <atomic>
#include <functional>
#include <thread>

// The interrupts of a run, handed to one function whatever the platform:
// on POSIX SIGINT, SIGTERM and SIGHUP, taken by a thread of their own with
// sigwait() instead of a handler, so that what they do (print, close, exit)
// may be anything; on Windows Ctrl-C and Ctrl-Break (as SIGINT) and the
// console's close, log-off and shut-down (as SIGHUP, 1), from the console's
// control handler. One file per platform, chosen by CMake.
class InterruptWatcher {
public:
    // The number a closed console is reported as, where there is no SIGHUP.
    static constexpr int kHangUp = 1;

    // POSIX: blocks SIGINT, SIGTERM and SIGHUP for the calling thread and all
    // it starts, so it must run in main() before any thread starts. A signal
    // that was ignored when the program started (a background job of a shell
    // script, nohup) stays ignored. Windows: nothing.
    static void BlockSignals();

    // Starts watching; onSignal runs on a thread of its own for every
    // interrupt received, and may end the process.
    explicit InterruptWatcher(std::function<void(int)> onSignal);
    ~InterruptWatcher(); // stops watching and waits for the thread
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

private:
    void Run();

    std::function<void(int)> m_onSignal;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
