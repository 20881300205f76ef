#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QObject;
class QSocketNotifier;

// Work handed from the upgrade worker to the dialog's thread, carried out
// there in the order it was handed over. The owner is the object whose
// thread runs the work; the queue lives and dies with it.
//
// The worker wakes the owner's thread through a pipe watched by a socket
// notifier, not through a posted Qt event: nothing allocated on the worker's
// thread is ever read on the owner's, and the hand-off is a mutex plus a
// write/read pair that a race detector sees as such.
class DialogThreadQueue {
public:
    explicit DialogThreadQueue(QObject& owner);
    ~DialogThreadQueue();
    DialogThreadQueue(const DialogThreadQueue&) = delete;
    DialogThreadQueue& operator=(const DialogThreadQueue&) = delete;

    // True on the owner's thread.
    bool OnOwnerThread() const;

    // Runs work on the owner's thread: at once when called there (after
    // anything still queued), else queued behind earlier work.
    void Run(std::function<void()> work);

    // Carries out everything queued so far; on the owner's thread only.
    void Drain();

private:
    void Wake();
    void ClearWake();

    QObject& m_owner;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_pending;
    bool m_wakePending = false;
};
