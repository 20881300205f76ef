#include "serial/FrameExchange.h"

#include <chrono>

#include "serial/CSerialPort.h"
#include "serial/Deadline.h"

namespace {

using WireProtocol::kDrainMaxBytes;
using WireProtocol::kDrainMaxTime;
using WireProtocol::kDrainTimeoutMs;
using WireProtocol::kInterByteTimeoutMs;

// True when the line fell silent (or has nothing more to give: a closed or
// hung-up port), false when the drain hit its bound.
bool Drain(CSerialPort& port)
{
    const Deadline giveUp = Deadline::In(kDrainMaxTime);
    std::uint8_t discard = 0;
    for (int count = 0; count < kDrainMaxBytes && !giveUp.Expired(); ++count) {
        if (!port.Read(&discard, 1))
            return true;
    }
    return false;
}

} // namespace

int SendFrame(CSerialPort* port, const std::uint8_t* payload, int length)
{
    if (port == nullptr)
        return 0;
    if (length < 0)
        length = 0;

    port->SetTimeouts(kDrainTimeoutMs);
    // Whatever came in since the last exchange (the tail of a long reply, a
    // late answer) must not be taken for the reply to this frame.
    if (!Drain(*port))
        return 0;

    std::uint8_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<std::uint8_t>(sum + payload[i]);
    const auto checksum = static_cast<std::uint8_t>(0x100 - sum);

    // Payload and checksum leave in two writes, the way the switch's loader
    // has always been fed. A short payload is not followed by its checksum:
    // the switch would take whatever follows for the frame's end.
    if (!port->Write(payload, length))
        return 0;
    return port->Write(&checksum, 1) ? 1 : 0;
}

int ReceiveReply(CSerialPort* port, std::uint8_t* buffer, int firstByteTimeoutMs)
{
    if (buffer == nullptr)
        return 0;
    buffer[0] = kNoReplyMarker;
    if (port == nullptr)
        return 0;

    port->SetTimeouts(firstByteTimeoutMs);
    if (!port->Read(buffer, 1))
        return 0;

    port->SetTimeouts(kInterByteTimeoutMs);
    int count = 1;
    while (count < kReplyBufferSize) {
        if (!port->Read(buffer + count, 1))
            return count;
        ++count;
    }
    // A reply that fills the buffer has not ended yet. A line that goes on
    // without the reply's gap (a babbling far end, whose bytes an adapter's
    // packets or a stalled sender break up into gaps too short for it) gave
    // no reply at all: its next F0 would pass for a block's acknowledgement.
    if (!Drain(*port)) {
        buffer[0] = kNoReplyMarker;
        return 0;
    }
    return count;
}

bool IsProbeAck(std::uint8_t code, const std::uint8_t* ackSet)
{
    if (ackSet == nullptr)
        return false;
    for (const std::uint8_t* p = ackSet; *p != 0; ++p) {
        if (*p == code)
            return true;
    }
    return false;
}
