#include "ui/qt/DialogThreadQueue.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QThread>

DialogThreadQueue::DialogThreadQueue(QObject& owner) : m_owner(owner)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "dialog wake-up pipe");
    m_wakeRead = fds[0];
    m_wakeWrite = fds[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_wakeRead, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &m_owner, [this] { Drain(); });
}

DialogThreadQueue::~DialogThreadQueue()
{
    m_notifier.reset();
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

bool DialogThreadQueue::OnOwnerThread() const
{
    return QThread::currentThread() == m_owner.thread();
}

void DialogThreadQueue::Run(std::function<void()> work)
{
    if (OnOwnerThread()) {
        // Whatever the worker queued before comes first.
        Drain();
        work();
        return;
    }
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(std::move(work));
        wake = !m_wakePending;
        m_wakePending = true;
    }
    if (wake)
        Wake();
}

void DialogThreadQueue::Wake()
{
    const char byte = 1;
    // A full pipe already holds a wake-up, so EAGAIN loses nothing.
    while (::write(m_wakeWrite, &byte, 1) < 0 && errno == EINTR) {
    }
}

void DialogThreadQueue::ClearWake()
{
    char bytes[64];
    for (;;) {
        const ssize_t n = ::read(m_wakeRead, bytes, sizeof bytes);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
}

void DialogThreadQueue::Drain()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ClearWake();
        m_wakePending = false;
    }
    // One at a time: a message box shown by one item runs a nested event
    // loop, which must carry on with the next item, not skip ahead.
    for (;;) {
        std::function<void()> work;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending.empty())
                return;
            work = std::move(m_pending.front());
            m_pending.pop_front();
        }
        work();
    }
}
