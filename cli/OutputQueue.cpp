#include "cli/OutputQueue.h"

#include "cli/Console.h"

#include <utility>

namespace {

// Merging keeps the many small pieces a progress line is made of from
// becoming a write each, without letting one chunk grow without end.
constexpr std::size_t kMergeLimitBytes = 64 * 1024;

const char kDroppedNote[] =
    "\nkvm-upgrade-cli: output was dropped: stdout or stderr was not being read.\n";

} // namespace

OutputQueue::OutputQueue(std::size_t capacityBytes, int noteFd)
    : m_capacityBytes(capacityBytes), m_noteFd(noteFd), m_thread(&OutputQueue::Run, this)
{
}

OutputQueue::~OutputQueue()
{
    Stop();
}

void OutputQueue::Append(int fd, std::string_view bytes)
{
    if (bytes.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_queuedBytes + bytes.size() > m_capacityBytes) {
            if (!m_dropNoted) {
                // Past the bound on purpose: the note is small, and without
                // it gaps in the output would be a mystery.
                m_dropNoted = true;
                m_chunks.push_back({m_noteFd, kDroppedNote});
                m_queuedBytes += sizeof kDroppedNote - 1;
                m_wake.notify_one();
            }
            return;
        }
        if (!m_chunks.empty() && m_chunks.back().fd == fd &&
            m_chunks.back().bytes.size() + bytes.size() <= kMergeLimitBytes)
            m_chunks.back().bytes.append(bytes);
        else
            m_chunks.push_back({fd, std::string(bytes)});
        m_queuedBytes += bytes.size();
    }
    m_wake.notify_one();
}

void OutputQueue::Drain()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return IdleLocked() || m_quit; });
}

bool OutputQueue::DrainFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] { return IdleLocked() || m_quit; }) &&
        IdleLocked();
}

void OutputQueue::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_idle.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void OutputQueue::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_chunks.empty(); });
        if (m_quit)
            return;
        Chunk chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_writing = true;
        lock.unlock();
        Console::WriteAll(chunk.fd, chunk.bytes);
        lock.lock();
        // Counted out only now: a chunk that hangs in write() still takes
        // its room, so a stopped terminal cannot make the queue grow.
        m_queuedBytes -= chunk.bytes.size();
        m_writing = false;
        if (m_chunks.empty())
            m_idle.notify_all();
    }
}
