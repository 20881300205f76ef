#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "tools/PseudoTerminal.h"
#include "tools/SwitchProtocol.h"
#include "tools/SwitchSimConfig.h"
#include "tools/SwitchSimReport.h"

// A KVM switch on the master side of a pseudo-terminal. The slave side's path
// (DevicePath) is what the host opens, e.g. through --map COM1=<path>.
//
// The switch's protocol is SwitchProtocol's, the line a PseudoTerminal; this
// is what joins them: a thread that feeds the protocol what the host writes,
// with the moment it was read, and writes its replies when they are due.
//
// The line's part of the faults: babbleAfterGoAhead starts once the go-ahead
// has been written and goes on until the line is closed (replies still go
// out whole in between); hangUpAfterLastAck closes the line right after the
// host has taken the last block's F0 from its input queue (a
// pseudo-terminal's hang-up would throw away what is still queued, where a
// real line's would not), or 2 s after the F0 was written if it never does.
class SwitchSim {
public:
    explicit SwitchSim(SwitchSimConfig config = {});
    ~SwitchSim();
    SwitchSim(const SwitchSim&) = delete;
    SwitchSim& operator=(const SwitchSim&) = delete;

    bool Start(std::string* error = nullptr);
    void Stop(); // quit, wake, join; removes the symlink

    const std::string& DevicePath() const { return m_pty.DevicePath(); }
    SwitchSimReport Report() const;          // a copy, taken under the lock

    // For tests: block until the condition holds or the time-out passes.
    bool WaitForReport(const std::function<bool(const SwitchSimReport&)>& condition,
                       std::chrono::milliseconds timeout) const;
    bool WaitForEndOfImage(std::chrono::milliseconds timeout) const
    {
        return WaitForReport([](const SwitchSimReport& r) { return r.endOfImage; }, timeout);
    }
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const
    {
        return WaitForReport([count](const SwitchSimReport& r) { return r.frames.size() >= count; }, timeout);
    }
    bool WaitForEndOfImageCount(int count, std::chrono::milliseconds timeout) const
    {
        return WaitForReport([count](const SwitchSimReport& r) { return r.endOfImageCount >= count; }, timeout);
    }

private:
    using Clock = SwitchProtocol::Clock;

    struct OutByte {
        std::uint8_t value;
        Clock::time_point due; // not written to the line before this moment
    };

    void Run();
    void CloseFds();
    void TakeProtocolOutput(); // under the lock
    void Queue(const std::vector<std::uint8_t>& bytes, Clock::time_point due);
    void WriteDue(Clock::time_point now);
    void Babble(Clock::time_point now);
    void StartBabbleAfterGoAhead();
    void BabbleAtLineRate(Clock::time_point now);
    Clock::time_point NextBabble() const;
    void CheckLastAckTaken(Clock::time_point now);
    void CheckHostPresent(Clock::time_point now);
    void HangUp();

    std::atomic<bool> m_quit{false};

    // Run's own state: touched by the switch's thread only.
    bool m_hangUpNow = false;
    std::deque<OutByte> m_out;
    Clock::time_point m_lastOutDue{};
    bool m_outBlocked = false;             // the line's buffer is full: wait until writable
    Clock::time_point m_nextBabble{};
    bool m_babbleArmed = false;            // babbleAfterGoAhead: begins once the go-ahead is out
    bool m_babbling = false;               // babbleAfterGoAhead has begun
    bool m_lastAckPending = false;         // hangUpAfterLastAck: waiting for the host to read it
    Clock::time_point m_lastAckGiveUp{};   // unset until the ack has been written
    Clock::time_point m_nextAckCheck{};
    int m_imagesWritten = 0;               // end-of-image frames whose image is in imageOut
    // No host holds the line open: the master is left out of poll() until
    // hostCheck, when it is looked at again.
    bool m_hostAbsent = true;
    Clock::time_point m_hostCheck{};

    SwitchSimConfig m_config;
    PseudoTerminal m_pty; // the switch's end of the line
    int m_wakePipe[2] = {-1, -1};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    SwitchProtocol m_protocol; // under m_mutex: its report is what Report() hands out
};
