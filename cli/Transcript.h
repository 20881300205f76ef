#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// --log FILE: everything the run says, each line with the time it was said,
// and with --verbose the bytes on the line. Lines come from the front end's
// thread and the upgrade worker's; a thread of the transcript's own writes
// them, so that a disk that stalls (a frozen or hard-mounted file system)
// never holds up the transfer. What is written is flushed at once: a run
// that is killed leaves its transcript up to its last word. Times are local,
// ISO 8601 with their offset from UTC.
class Transcript {
public:
    // What may wait for the disk; past it, lines are dropped and that is
    // said once in the file.
    static constexpr std::size_t kCapacityBytes = 16 * 1024 * 1024;

    Transcript() = default;
    ~Transcript(); // writes what is queued, then closes
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Appends to path, a regular file or a new one; false, with the reason
    // in error, when it cannot.
    bool Open(const std::string& path, std::string& error);

    // One line (or several) under a channel name: "out", "err", "note".
    void Line(const char* channel, const std::string& text);
    // Bytes sent to (sent) or received from the switch. Consecutive bytes in
    // one direction make one line, started at the first of them.
    void Traffic(bool sent, const std::uint8_t* data, std::size_t length);

    // Waits until everything so far is in the file; DrainFor at most
    // timeout, and returns whether it is.
    void Drain();
    bool DrainFor(std::chrono::milliseconds timeout);

    bool IsOpen();
    // Why not every line reached the file (a write failed: the disk is full,
    // an I/O error; or the disk was too slow and lines were dropped); empty
    // while all did. Once a write has failed, nothing more is written.
    std::string Failure();

private:
    // All expect m_mutex held.
    bool IdleLocked() const { return m_pending.empty() && !m_writing; }
    void FlushTraffic();
    void Queue(const std::string& stamp, const char* channel, const std::string& text);
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake; // something queued, or quit
    std::condition_variable m_idle; // all queued text is in the file
    std::FILE* m_file = nullptr;
    std::thread m_writer;
    std::string m_pending; // formatted lines the writer has not taken
    bool m_writing = false;
    bool m_dropped = false;
    std::string m_failure;
    bool m_quit = false;
    bool m_trafficSent = false;
    std::string m_trafficStamp;
    std::string m_traffic; // hex of the bytes gathered; empty = none
};
