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
}

void Win32WriteWatchdog::Arm(std::chrono::milliseconds limit)
{
    // THREAD_TERMINATE is the access CancelSynchronousIo needs.
    HANDLE self = ::OpenThread(THREAD_TERMINATE, FALSE, ::GetCurrentThreadId());
    {
        std::lock_guard lock(m_mutex);
        m_thread = self;
        m_armed = self != nullptr;
        m_fired = false;
        m_deadline = std::chrono::steady_clock::now() + limit;
        if (!m_watcher.joinable())
            m_watcher = std::thread(&Win32WriteWatchdog::Run, this);
    }
    m_wake.notify_all();
}

bool Win32WriteWatchdog::Disarm()
{
    // The cancel is made under the lock and only while armed, so once this
    // returns no cancel can reach the caller's next read or write.
    std::lock_guard lock(m_mutex);
    const bool fired = m_fired;
    if (m_thread != nullptr)
        ::CloseHandle(static_cast<HANDLE>(m_thread));
    m_thread = nullptr;
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
            m_wake.wait(lock);
            continue;
        }
        if (m_wake.wait_until(lock, m_deadline) == std::cv_status::timeout && m_armed && !m_fired
            && std::chrono::steady_clock::now() >= m_deadline) {
            ::CancelSynchronousIo(static_cast<HANDLE>(m_thread));
            m_fired = true;
        }
    }
}
