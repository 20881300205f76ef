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

} // namespace WireProtocol
