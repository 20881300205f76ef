#pragma once

#include <deque>
#include <functional>
#include <mutex>

class QObject;

// Work handed from the upgrade worker to the dialog's thread, carried out
// there in the order it was handed over. The owner is the object whose
// thread runs the work; the queue lives and dies with it.
class DialogThreadQueue {
public:
    explicit DialogThreadQueue(QObject& owner);
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
    QObject& m_owner;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_pending;
    bool m_drainPosted = false;
};
