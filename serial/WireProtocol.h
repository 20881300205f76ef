#pragma once

#include <cstdint>

// The values the switch's loader understands on the wire, in one place for
// the whole program.
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

// How long the first byte of a reply is awaited.
inline constexpr int kProbeReplyWaitMs = 100;
inline constexpr int kHandshakeReplyWaitMs = 1200;
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

} // namespace WireProtocol
