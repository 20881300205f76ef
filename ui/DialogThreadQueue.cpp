#include "ui/DialogThreadQueue.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

DialogThreadQueue::DialogThreadQueue(QObject& owner) : m_owner(owner)
{
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
    bool post = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(std::move(work));
        post = !m_drainPosted;
        m_drainPosted = true;
    }
    // Posted with the owner as receiver: an owner that is gone drops it.
    if (post)
        QMetaObject::invokeMethod(&m_owner, [this] { Drain(); }, Qt::QueuedConnection);
}

void DialogThreadQueue::Drain()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_drainPosted = false;
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
