#include "serial/FrameExchange.h"

#include <chrono>

#include "serial/CSerialPort.h"
#include "serial/Deadline.h"

namespace {

// Wait per byte while draining: a one-byte read then gives up after 2 ms of
// silence.
constexpr int kDrainTimeoutMs = 1;
// Wait between the bytes of one reply: a reply ends at a gap of about 20 ms.
constexpr int kInterByteTimeoutMs = 10;

// A line that never falls silent (a babbling device, a wrong cable) would
// keep the drain reading for ever. After this many bytes or this long the
// frame goes out anyway: the reply that follows will be wrong or missing,
// and every caller already retries or fails on that.
constexpr int kDrainMaxBytes = 4096;
constexpr std::chrono::milliseconds kDrainMaxTime{500};

void Drain(CSerialPort& port)
{
    const Deadline giveUp = Deadline::In(kDrainMaxTime);
    std::uint8_t discard = 0;
    for (int count = 0; count < kDrainMaxBytes && !giveUp.Expired(); ++count) {
        if (!port.Read(&discard, 1))
            break;
    }
}

} // namespace

int SendFrame(CSerialPort* port, const std::uint8_t* payload, int length)
{
    if (port == nullptr)
        return 1;
    if (length < 0)
        length = 0;

    port->SetTimeouts(kDrainTimeoutMs);
    // Whatever came in since the last exchange (the tail of a long reply, a
    // late answer) must not be taken for the reply to this frame.
    Drain(*port);

    std::uint8_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<std::uint8_t>(sum + payload[i]);
    const auto checksum = static_cast<std::uint8_t>(0x100 - sum);

    // Payload and checksum leave in two writes, the way the switch's loader
    // has always been fed. The results are not examined: a lost frame shows
    // as a missing or wrong reply, which every caller handles.
    port->Write(payload, length);
    port->Write(&checksum, 1);
    return 1;
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
            break;
        ++count;
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
