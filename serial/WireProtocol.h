#pragma once

#include <chrono>
#include <cstdint>

// The values the switch's loader understands on the wire, in one place for
// the whole program: its bytes, and beside them the line's settings and every
// wait, pause and retry count of the exchanges that carry them.
//
// A wait in milliseconds handed to ReceiveReply or CSerialPort::SetTimeouts is
// the port's read time-out: a read of n bytes takes at most (n + 1) times it,
// so the first byte of a reply is awaited for up to twice the wait.
namespace WireProtocol {

// Frames to the switch (each followed by its checksum byte).
inline constexpr std::uint8_t kProbeCommand = 0x01;      // also asks for the version
inline constexpr std::uint8_t kHeaderCommand = 0x02;     // model and family headers
inline constexpr std::uint8_t kDataBlockCommand = 0x03;  // then sequence byte, then data
inline constexpr std::uint8_t kEndOfImageCommand = 0x05;

// Reply codes that answer a probe or a version request, zero-terminated.
inline constexpr std::uint8_t kProbeAckSet[4] = {0xF2, 0xFA, 0xF3, 0x00};
// The switch is ready for the image, or took the last data block.
inline constexpr std::uint8_t kGoAhead = 0xF0;
// Byte 0 of a reply buffer when no byte arrived (the switch never sends it).
inline constexpr std::uint8_t kNoReplyMarker = 0xF1;

// Size of every reply buffer; a longer reply is cut here.
inline constexpr int kReplyBufferSize = 256;
// Data bytes in one block frame; the last block may be shorter.
inline constexpr std::uint32_t kBlockDataSize = 256;

// ---------------------------------------------------------------------------
// The line

// The loader's one speed (8 data bits, no parity, two stop bits).
inline constexpr int kBaudRate = 115200;
// The read time-out a port is opened with. Every exchange sets its own
// before it reads, so this bounds only a read made before the first one.
inline constexpr int kOpenTimeoutMs = 1000;

// ---------------------------------------------------------------------------
// Every exchange (serial/FrameExchange)

// Wait per byte while draining: a one-byte read then gives up after 2 ms of
// silence.
inline constexpr int kDrainTimeoutMs = 1;
// Wait between the bytes of one reply: a reply ends at a gap of about 20 ms.
inline constexpr int kInterByteTimeoutMs = 10;
// A line that never falls silent (a babbling device, a wrong cable) would
// keep the drain reading for ever, so it stops after this many bytes or this
// long. The frame is then not sent at all: the babble's next byte could pass
// for the reply (a stray F0 for the acknowledgement of a data block), so the
// caller must count the attempt as failed.
inline constexpr int kDrainMaxBytes = 4096;
inline constexpr std::chrono::milliseconds kDrainMaxTime{500};

// ---------------------------------------------------------------------------
// The probe and the version request (kProbeCommand)

// The wait for the first byte of the reply.
inline constexpr int kProbeReplyWaitMs = 100;
// A probe is tried at most this often on the first port that opens; the
// count is kept per call, not per port.
inline constexpr int kProbeAttempts = 4;
// After a probe of a named port, the upgrade makes sure with at most this
// many probes that the switch still answers (counted on from retryCount).
inline constexpr int kResearchAttempts = 3;
// The version request is the probe's byte. The switch needs time to gather
// its version before it answers, so each request pauses this long before
// its reply is read; a request not answered with a whole version reply is
// sent again, up to this many in all.
inline constexpr std::chrono::milliseconds kVersionReplyPause{800};
inline constexpr int kVersionRequests = 3;

// ---------------------------------------------------------------------------
// The handshake (kHeaderCommand, kProbeCommand, then kGoAhead)

// The wait for the first byte of each reply.
inline constexpr int kHandshakeReplyWaitMs = 1200;
// Probes that give the switch the chance to say it is ready after the
// headers; the run goes on without that answer.
inline constexpr int kReadyProbes = 3;
// The go-ahead counts only if it comes after the second model header, and no
// frame goes out while it is awaited: this many waits, each followed by this
// pause, before the run fails.
inline constexpr std::uint8_t kGoAheadWaits = 3;
inline constexpr std::chrono::milliseconds kGoAheadPause{500};

// ---------------------------------------------------------------------------
// The blocks (kDataBlockCommand)

// The wait for the first byte of a block's reply.
inline constexpr int kBlockReplyWaitMs = 20;
// A block's reply that misses that wait is listened for this much longer
// (its first byte up to twice this) before the block is sent again. A USB
// adapter holds what the switch sends for its latency timer (16 ms by
// default on FTDI chips, 32 ms and more where set so), and a switch may take
// as long again to store a block: sent again at once, the block's late reply
// would be taken for the answer to the next frame. Together the two waits
// cover a full block's 25 ms on the wire, 32 ms of storing and 32 ms of
// adapter hold with room to spare.
inline constexpr int kBlockLateReplyWaitMs = 50;
// What a silent block attempt costs on a live line: the first byte of a reply
// is awaited for twice each wait. A line that has gone away answers every
// read at once; without this floor the resends would spin and flood the
// front end with updates until the silence limit.
inline constexpr std::chrono::milliseconds kSilentAttemptFloor{
    2 * (kBlockReplyWaitMs + kBlockLateReplyWaitMs)};
// A rejected block is sent again until retryCount passes this.
inline constexpr std::uint8_t kRejectionLimit = 4;
// A switch that stops answering data blocks altogether would otherwise keep
// the transfer resending for ever with the controls disabled: after this long
// without a single reply byte the run fails like a block rejected too often.
inline constexpr std::chrono::milliseconds kBlockSilenceLimit{3000};

// ---------------------------------------------------------------------------
// The restart after an upgrade (kProbeCommand again)

// After the end-of-image frame the switch restarts with what it stored and
// hears nothing until its loader runs again. Whoever wants to know that it
// came back probes it this often, one probe a time, opening the port afresh
// each time (a USB adapter may come and go with the switch).
inline constexpr std::chrono::milliseconds kRestartProbeInterval{1000};
// How long a restart may take before it counts as failed: a switch that
// rewrites its flash on the first start takes seconds, a slow one tens of
// seconds.
inline constexpr std::chrono::seconds kRestartWaitDefault{60};
// A switch that answers with another date than the file's right after the
// end of the image may still be running the old firmware, its reset yet to
// come: it is asked once more this much later (within the wait) before the
// date counts.
inline constexpr std::chrono::milliseconds kRestartRecheckDelay{5000};

} // namespace WireProtocol
