#pragma once

#include <cstdint>

class CSerialPort;

// Size of every reply buffer; a longer reply is cut here.
inline constexpr int kReplyBufferSize = 256;
// Byte 0 of a reply buffer when no byte arrived.
inline constexpr std::uint8_t kNoReplyMarker = 0xF1;
// Reply codes that answer a probe or a version request, zero-terminated.
inline constexpr std::uint8_t kProbeAckSet[4] = {0xF2, 0xFA, 0xF3, 0x00};

// Drains stale input, then writes payload and its checksum byte (the byte
// that makes the frame's 8-bit sum 0) in two separate writes. Returns 1 when
// the whole frame went out, 0 otherwise: no port, a closed or hung-up line, a
// short write, or a line that never fell silent during the drain (then nothing
// is written).
int SendFrame(CSerialPort* port, const std::uint8_t* payload, int length);

// Collects one reply into buffer (256 bytes): byte 0 is 0xF1 until a first
// byte arrives within the first-byte wait; the reply ends at a gap of about
// 20 ms. Returns the number of bytes stored, 0 when none arrived.
int ReceiveReply(CSerialPort* port, std::uint8_t* buffer, int firstByteTimeoutMs);

// True when code is in the zero-terminated accept set.
bool IsProbeAck(std::uint8_t code, const std::uint8_t* ackSet = kProbeAckSet);
