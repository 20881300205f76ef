#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Cancels a synchronous write that outlives its limit. A write on a
// communications port with no write time-out waits for as long as the line
// takes no byte; CancelSynchronousIo from this thread ends it, and the write
// fails with ERROR_OPERATION_ABORTED. (Wine 8 cannot cancel a write on a COM
// port: there the write ends only when the line goes away.)
//
// A transfer arms it twice for every frame, so arming costs no system call
// in the usual case: the writer's thread handle is kept while the same
// thread writes, and the watcher is woken only when the new deadline comes
// before the one it sleeps towards (or it sleeps towards none).
class Win32WriteWatchdog {
public:
    Win32WriteWatchdog() = default;
    ~Win32WriteWatchdog(); // quit, wake, join, close the thread handle
    Win32WriteWatchdog(const Win32WriteWatchdog&) = delete;
    Win32WriteWatchdog& operator=(const Win32WriteWatchdog&) = delete;

    // Watches the calling thread's next synchronous I/O until Disarm.
    void Arm(std::chrono::milliseconds limit);
    // Returns true when the limit passed and the I/O was cancelled.
    bool Disarm();

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_armed = false;
    bool m_fired = false;
    // Where the watcher's wait ends (max() while it waits for an Arm). Woken
    // at an earlier write's deadline, it finds the current one.
    std::chrono::steady_clock::time_point m_waitEnd = std::chrono::steady_clock::time_point::max();
    void* m_thread = nullptr; // a handle of the last thread that armed it
    unsigned long m_threadId = 0;
    std::chrono::steady_clock::time_point m_deadline{};
    std::thread m_watcher; // started by the first Arm
};
