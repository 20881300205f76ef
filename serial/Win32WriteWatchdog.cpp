#include "serial/Win32WriteWatchdog.h"

#include <windows.h>

Win32WriteWatchdog::~Win32WriteWatchdog()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_thread != nullptr)
        ::CloseHandle(static_cast<HANDLE>(m_thread));
}

void Win32WriteWatchdog::Arm(std::chrono::milliseconds limit)
{
    const DWORD self = ::GetCurrentThreadId();
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        // The handle kept keeps the thread's id from being reused, so the id
        // names the same thread for as long as the handle is held.
        if (m_thread == nullptr || m_threadId != self) {
            if (m_thread != nullptr)
                ::CloseHandle(static_cast<HANDLE>(m_thread));
            // THREAD_TERMINATE is the access CancelSynchronousIo needs.
            m_thread = ::OpenThread(THREAD_TERMINATE, FALSE, self);
            m_threadId = m_thread != nullptr ? self : 0;
        }
        m_armed = m_thread != nullptr;
        m_fired = false;
        m_deadline = std::chrono::steady_clock::now() + limit;
        if (!m_watcher.joinable())
            m_watcher = std::thread(&Win32WriteWatchdog::Run, this);
        wake = m_deadline < m_waitEnd;
    }
    if (wake)
        m_wake.notify_all();
}

bool Win32WriteWatchdog::Disarm()
{
    // The cancel is made under the lock and only while armed, so once this
    // returns no cancel can reach the caller's next read or write.
    std::lock_guard lock(m_mutex);
    const bool fired = m_fired;
    m_armed = false;
    m_fired = false;
    return fired;
}

void Win32WriteWatchdog::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_quit)
            return;
        if (!m_armed || m_fired) {
            m_waitEnd = std::chrono::steady_clock::time_point::max();
            m_wake.wait(lock);
            continue;
        }
        // Woken early or late, the deadline is read afresh: it may belong to
        // a later write by now.
        m_waitEnd = m_deadline;
        m_wake.wait_until(lock, m_waitEnd);
        if (m_armed && !m_fired && std::chrono::steady_clock::now() >= m_deadline) {
            ::CancelSynchronousIo(static_cast<HANDLE>(m_thread));
            m_fired = true;
        }
    }
}
