#pragma once

#include <cstdint>

#include "serial/WireProtocol.h"

class CSerialPort;

// The names the frame layer's callers have always used.
using WireProtocol::kNoReplyMarker;
using WireProtocol::kProbeAckSet;
using WireProtocol::kReplyBufferSize;

// Drains stale input, then writes payload and its checksum byte (the byte
// that makes the frame's 8-bit sum 0) in two separate writes. Returns 1 when
// the whole frame went out, 0 otherwise: no port, a closed or hung-up line, a
// short write, or a line that never fell silent during the drain (then nothing
// is written).
int SendFrame(CSerialPort* port, const std::uint8_t* payload, int length);

// Collects one reply into buffer (256 bytes): byte 0 is 0xF1 until a first
// byte arrives within the first-byte wait; the reply ends at a gap of about
// 20 ms. A longer reply is cut at the buffer's end and read on to its gap;
// one that finds no gap within the drain's bounds is a line that never falls
// silent, and no reply. Returns the number of bytes stored, 0 when none
// arrived (or the line babbled).
int ReceiveReply(CSerialPort* port, std::uint8_t* buffer, int firstByteTimeoutMs);

// True when code is in the zero-terminated accept set.
bool IsProbeAck(std::uint8_t code, const std::uint8_t* ackSet = kProbeAckSet);
