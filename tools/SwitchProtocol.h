#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/SwitchSimConfig.h"
#include "tools/SwitchSimReport.h"

// The switch's side of the protocol, with no line attached: bytes go in with
// the moment they were read, replies come out with the moment they are due.
// It never reads a clock, so that a test can drive it through hours of
// silence in no time at all; SwitchSim carries out what it asks for on a
// pseudo-terminal.
//
// How it behaves:
// - A probe (01) is answered with the version reply: probeReply, 00, 00, the
//   three date bytes, the model text and a 00. Between the family header and
//   the second model header a probe is the ready probe, answered F0.
// - Model header, family header, (ready probes,) model header again: the
//   switch sends the go-ahead F0 about 2 ms later and a new image begins (the
//   image fields of the report start again; the counters of frames do not).
//   A header after that, or a probe right after the first header, starts the
//   handshake again; a handshake left half-way is forgotten once the next
//   frame comes more than 5 s after the last one.
// - A data block is acked F0 when its sequence number is the number of blocks
//   stored mod 256; the block just stored, sent again, is acked again and not
//   stored twice; any other number, and any block beyond 131072 bytes of
//   image, gets F5.
// - A frame's end is found as the switch's firmware finds it: a full block by
//   its length, a shorter one by a silence of 5 ms once its sum is 0. Frames
//   with a wrong checksum and unknown bytes are dropped at a silence of 5 ms
//   (20 ms while a frame is still short of its length) and counted as bad;
//   they get no reply.
//
// The simulator keeps its own copy of the wire's values, never the product's
// header: it is the independent check that the product speaks the protocol.
class SwitchProtocol {
public:
    using Clock = std::chrono::steady_clock;

    // 115200 baud with 8 data bits, no parity and two stop bits: 11 bits a byte.
    static constexpr std::chrono::nanoseconds kByteTime{95486};
    // Never one of the codes the host looks for (F0, F2, FA, F3).
    static constexpr std::uint8_t kNoise = 0x55;

    // Bytes the switch sends in one go, not before `due`. Under line timing
    // `due` is when the switch starts sending; pacing them is the line's job.
    struct Reply {
        std::vector<std::uint8_t> bytes;
        Clock::time_point due;
    };

    // What the protocol asks of the line since the last TakeOutput.
    struct Output {
        std::vector<Reply> replies;
        bool hangUpNow = false;         // close the line at once (hangupAfterBlock)
        bool hangUpOnceRead = false;    // close it once the host has read what was sent (hangUpAfterLastAck)
        bool babbleOnceWritten = false; // babbleAfterGoAhead begins once what was sent is out
    };

    explicit SwitchProtocol(SwitchSimConfig config = {});

    // Bytes read from the line at `now`. After a hang-up request the rest of
    // them is not looked at: the line is about to go.
    void Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now);
    // Ends, at `now`, the frame whose silence has lasted long enough. True
    // when a frame ended (the report changed).
    bool Tick(Clock::time_point now);
    // When Tick has something to do: the end of the frame being collected;
    // time_point::max() with no frame.
    Clock::time_point Deadline() const;

    Output TakeOutput();

    // What happened on the line, recorded in the report.
    void LineClosed(); // the frame being collected is dropped
    void BabbleBegun();

    const SwitchSimReport& Report() const { return m_report; }

private:
    // Where the switch stands in the upgrade handshake.
    enum class Stage { Idle, ModelHeader, FamilyHeader, Transfer };

    bool BlockMayEndHere() const;
    void ResetFrame();
    void CompleteFrame(Clock::time_point now);
    void OnProbe(Clock::time_point lastByte);
    bool AnswersProbe(int n) const;
    void OnHeader(Clock::time_point lastByte);
    void OnBlock(const std::vector<std::uint8_t>& payload, Clock::time_point lastByte);
    void OnEndOfImage(Clock::time_point lastByte);
    void TakeStoredIdentity();
    void Send(const std::vector<std::uint8_t>& reply, Clock::time_point due);

    SwitchSimConfig m_config;
    SwitchSimReport m_report;
    Output m_output;

    std::vector<std::uint8_t> m_frame;     // bytes of the frame being collected
    unsigned m_frameSum = 0;               // 8-bit sum of m_frame
    bool m_frameBad = false;               // collected until silence, then dropped
    Clock::time_point m_frameLastRead{};   // when the last byte of m_frame was read
    Clock::time_point m_frameLastWire{};   // when it finished arriving on the simulated line
    Clock::time_point m_lastWire{};        // the same for the last byte received at all
    Clock::time_point m_lastFrameTime{};
    Stage m_stage = Stage::Idle;
    int m_rejectsDone = 0;
    bool m_ignoreDone = false;             // ignoreBlock's frame has been missed
    int m_plainProbes = 0;                 // probes outside the handshake, for answerProbe*
    // Who the switch says it is: the configured firmware's model and date
    // until a restart brings up the image it stored.
    std::uint8_t m_date[3] = {};
    std::string m_model;
    Clock::time_point m_restartEnds = Clock::time_point::min(); // frames before it go unheard
};
