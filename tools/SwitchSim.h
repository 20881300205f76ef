#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// How the simulated switch behaves. Defaults: a well-behaved switch that
// answers at once.
struct SwitchSimConfig {
    std::uint8_t probeReply = 0xF2;      // reply code to a probe or version request
    std::uint8_t date[3] = {7, 12, 25};  // version reply bytes 3, 4, 5
    std::string model = "PZN442";        // version reply from byte 6, zero-terminated

    // Realism on demand.
    bool lineTiming = false;                         // 115200 baud 8N2 both ways (11 bits a byte)
    std::chrono::microseconds flashWriteDelay{0};    // per stored block, before its ack

    // Faults on demand.
    bool silent = false;            // never answers anything
    // Probes and version requests are counted from 1 outside the handshake
    // (the ready probe is noReadyReply's). The n-th is answered when
    // n >= answerProbeFrom and, if answerProbeUntil > 0, n <= answerProbeUntil
    // or (answerProbeAgainFrom > 0) n >= answerProbeAgainFrom: a switch that
    // drops out after the probe, for good or for a while.
    int answerProbeFrom = 1;        // answered from the n-th on...
    int answerProbeUntil = 0;       // ...when > 0, only up to the n-th...
    int answerProbeAgainFrom = 0;   // ...when > 0, and again from the n-th on
    bool noReadyReply = false;      // the ready probe of the handshake gets no 0xF0
    bool noGoAhead = false;         // no go-ahead after the second model header
    std::chrono::milliseconds goAheadDelay{0}; // extra wait before the go-ahead (a slow flash erase)
    int rejectBlock = -1;           // block index (0-based, counting stored blocks) to reject...
    int rejectCount = 0;            // ...this many times...
    std::uint8_t rejectCode = 0xF5; // ...with this code
    int silentFromBlock = -1;       // no reply to any block frame from this block index on
    int replyLength = 0;            // when > 0, every reply is padded to this many bytes (e.g. 300)
    int noiseBytes = 0;             // noise bytes written before every reply (never an accept code)
    int hangupAfterBlock = -1;      // close the line after storing this block index
    bool babble = false;            // writes noise continuously, never falls silent
    // Once the go-ahead F0 is out, writes this byte continuously and never
    // falls silent again: at the line's rate under lineTiming, else 256 bytes
    // a millisecond; what a full line cannot take is lost.
    std::optional<std::uint8_t> babbleAfterGoAhead;
    // Closes the line once the host has read the F0 that acknowledges the
    // last block. The switch cannot know the image's length: the last block
    // is the first stored block with fewer than 256 data bytes, which every
    // image whose size is not a multiple of 256 ends with.
    bool hangUpAfterLastAck = false;

    std::string imageOut;           // where the image is written on the end-of-image frame
    std::string linkPath;           // symlink made to the device, removed on Stop
};

// What the switch saw. Frames are payloads with the checksum byte stripped.
struct SwitchSimReport {
    std::vector<std::vector<std::uint8_t>> frames; // every well-formed frame, in order
    int badFrames = 0;                             // frames whose 8-bit sum was not 0
    int probes = 0;                                // 0x01 frames, ready probes included
    int blockFrames = 0;                           // 0x03 frames, resends included
    int blocksStored = 0;
    std::vector<std::uint8_t> storedSequences;     // sequence number of each stored block
    std::vector<std::uint8_t> image;               // the stored blocks, concatenated
    bool endOfImage = false;
    std::uint16_t imageCrc = 0;                    // Crc16 of image
    std::vector<std::uint8_t> rawReceived;         // every byte received, in order

    int endOfImageCount = 0;      // end-of-image frames seen, for a caller that waits for each
    int transferBlockFrames = 0;  // 0x03 frames since the current transfer began (its go-ahead)
    bool hungUp = false;          // the line was closed by hangupAfterBlock or hangUpAfterLastAck
    bool babbling = false;        // babbleAfterGoAhead has begun, after the go-ahead
};

// A KVM switch on the master side of a pseudo-terminal. The slave side's path
// (DevicePath) is what the host opens, e.g. through --map COM1=<path>.
//
// How it behaves:
// - A probe (01) is answered with the version reply: probeReply, 00, 00, the
//   three date bytes, the model text and a 00. Between the family header and
//   the second model header a probe is the ready probe, answered F0.
// - Model header, family header, (ready probes,) model header again: the
//   switch sends the go-ahead F0 about 2 ms later and a new image begins (the
//   image fields of the report start again; the counters of frames do not).
//   A header after that, or a probe right after the first header, starts the
//   handshake again; a handshake left half-way is forgotten after 5 s.
// - A data block is acked F0 when its sequence number is the number of blocks
//   stored mod 256; the block just stored, sent again, is acked again and not
//   stored twice; any other number, and any block beyond 131072 bytes of
//   image, gets F5.
// - A frame's end is found as the switch's firmware finds it: a full block by
//   its length, a shorter one by a silence of 5 ms once its sum is 0. Frames
//   with a wrong checksum and unknown bytes are dropped at a silence of 5 ms
//   (20 ms while a frame is still short of its length) and counted as bad;
//   they get no reply.
// - Faults that outlast a reply: babbleAfterGoAhead starts once the go-ahead
//   has been written and goes on until the line is closed (replies still go
//   out whole in between); hangUpAfterLastAck closes the line right after
//   the host has taken the last block's F0 from its input queue (a
//   pseudo-terminal's hang-up would throw away what is still queued, where a
//   real line's would not), or 2 s after the F0 was written if it never does.
class SwitchSim {
public:
    explicit SwitchSim(SwitchSimConfig config = {});
    ~SwitchSim();
    SwitchSim(const SwitchSim&) = delete;
    SwitchSim& operator=(const SwitchSim&) = delete;

    bool Start(std::string* error = nullptr);
    void Stop(); // quit, wake, join; removes the symlink

    const std::string& DevicePath() const { return m_devicePath; }
    SwitchSimReport Report() const;          // a copy, taken under the lock

    // For tests: block until the condition holds or the time-out passes.
    bool WaitForEndOfImage(std::chrono::milliseconds timeout) const;
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForEndOfImageCount(int count, std::chrono::milliseconds timeout) const;
    bool WaitForReport(const std::function<bool(const SwitchSimReport&)>& condition,
                       std::chrono::milliseconds timeout) const;

private:
    using Clock = std::chrono::steady_clock;

    // Where the switch stands in the upgrade handshake.
    enum class Stage { Idle, ModelHeader, FamilyHeader, Transfer };

    struct OutByte {
        std::uint8_t value;
        Clock::time_point due; // not written to the line before this moment
    };

    void Run();
    void CloseFds();
    void Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now);
    void CheckFrameEnd(Clock::time_point now);
    Clock::time_point FrameDeadline() const;
    void ResetFrame();
    void CompleteFrame(Clock::time_point now);
    void OnProbe(Clock::time_point lastByte);
    bool AnswersProbe(int n) const;
    void OnHeader(Clock::time_point lastByte);
    void OnBlock(const std::vector<std::uint8_t>& payload, Clock::time_point lastByte);
    void OnEndOfImage();
    void Reply(std::vector<std::uint8_t> reply, Clock::time_point due);
    void WriteDue(Clock::time_point now);
    void Babble(Clock::time_point now);
    void StartBabbleAfterGoAhead();
    void BabbleAtLineRate(Clock::time_point now);
    Clock::time_point NextBabble() const;
    void CheckLastAckTaken(Clock::time_point now);
    void HangUp();

    std::atomic<bool> m_quit{false};
    bool m_linkMade = false;

    // Run's own state: touched by the switch's thread only.
    std::vector<std::uint8_t> m_frame;     // bytes of the frame being collected
    unsigned m_frameSum = 0;               // 8-bit sum of m_frame
    bool m_frameBad = false;               // collected until silence, then dropped
    Clock::time_point m_frameLastReal{};   // when the last byte of m_frame was read
    Clock::time_point m_frameLastWire{};   // when it finished arriving on the simulated line
    Clock::time_point m_lastWire{};        // the same for the last byte received at all
    Clock::time_point m_lastFrameTime{};
    Stage m_stage = Stage::Idle;
    int m_rejectsDone = 0;
    int m_plainProbes = 0;                 // probes outside the handshake, for answerProbe*
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

    SwitchSimConfig m_config;
    std::string m_devicePath;
    int m_master = -1;
    int m_slaveKeep = -1; // held open so the master never sees a hang-up between host opens
    int m_wakePipe[2] = {-1, -1};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    SwitchSimReport m_report;
};
