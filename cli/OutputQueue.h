#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// What the program writes to stdout and stderr, in the order it was written,
// handed to the descriptors by a thread of its own. A terminal that stops
// reading (Ctrl-S, a stalled SSH session) then blocks only that thread: the
// upgrade worker and the signal watcher never wait on it. A write that fails
// (EPIPE, EIO: the reader or the terminal has gone) drops its bytes and the
// thread goes on. The queue is bounded; what would go past the bound is
// dropped, and that is said once, on stderr.
class OutputQueue {
public:
    static constexpr std::size_t kDefaultCapacityBytes = 1024 * 1024;

    // Starts the writing thread: call it after the signals are blocked.
    // noteFd: where the note that output was dropped goes.
    explicit OutputQueue(std::size_t capacityBytes = kDefaultCapacityBytes, int noteFd = 2);
    ~OutputQueue(); // Stop()
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Queues bytes for descriptor fd; never waits for the descriptor.
    void Append(int fd, std::string_view bytes);

    // Waits until everything queued so far has been written or dropped.
    void Drain();
    // The same, but no longer than timeout; returns whether all is out.
    bool DrainFor(std::chrono::milliseconds timeout);

    // Quit, wake, join; what is still queued is not written. The thread may
    // be blocked on a descriptor that never takes its bytes: only Drain when
    // waiting for that is acceptable.
    void Stop();

private:
    struct Chunk {
        int fd;
        std::string bytes;
    };

    void Run();
    bool IdleLocked() const { return m_chunks.empty() && !m_writing; }

    const std::size_t m_capacityBytes;
    const int m_noteFd;
    std::mutex m_mutex;
    std::condition_variable m_wake; // something queued, or quit
    std::condition_variable m_idle; // the queue emptied
    std::deque<Chunk> m_chunks;
    std::size_t m_queuedBytes = 0;
    bool m_writing = false; // the thread holds a chunk it has not finished
    bool m_dropNoted = false;
    bool m_quit = false;
    std::thread m_thread;
};
