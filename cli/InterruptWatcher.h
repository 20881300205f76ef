#pragma once

#include <atomic>
#include <functional>
#include <thread>

// SIGINT, SIGTERM and SIGHUP, taken by a thread of their own with sigwait() instead
// of a handler, so that what they do (print, close, exit) may be anything.
// BlockSignals() must run in main() before any thread starts: every thread
// inherits the blocked mask, so the signals reach no one but the watcher.
class InterruptWatcher {
public:
    // Blocks SIGINT, SIGTERM and SIGHUP for the calling thread and all it
    // starts. A signal that was ignored when the program started (a
    // background job of a shell script, nohup) stays ignored.
    static void BlockSignals();

    // Starts the watching thread; onSignal runs on it for every signal
    // received, and may end the process.
    explicit InterruptWatcher(std::function<void(int)> onSignal);
    ~InterruptWatcher(); // stops the thread and waits for it
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

private:
    void Run();

    std::function<void(int)> m_onSignal;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
