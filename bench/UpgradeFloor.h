#pragma once

#include <algorithm>
#include <cstdint>

// The time the protocol itself needs for an upgrade on a line: the wire time
// of every frame and reply byte plus the exchange's fixed silences. What the
// benchmarks hold a measured run against.
namespace UpgradeFloor {

// 115200 baud, 11 bits a byte (start, 8 data, two stop); 0 on a line that
// has no speed of its own (the simulated switch without --line-timing).
inline constexpr double kByteMs = 11.0 * 1000.0 / 115200.0;
// The drain before every frame waits 2 ms for a byte that does not come,
// and every reply ends with 20 ms of waiting for a byte that does not come.
inline constexpr double kDrainMs = 2.0;
inline constexpr double kReplyCloseMs = 20.0;

// One exchange: the drain, the frame on the wire, and, when a reply comes,
// its bytes on the wire and the silence that ends it.
inline double Exchange(int frameBytes, int replyBytes, double byteMs)
{
    double ms = kDrainMs + frameBytes * byteMs;
    if (replyBytes > 0)
        ms += replyBytes * byteMs + kReplyCloseMs;
    return ms;
}

// The replies of an upgrade: two version replies, the ready probe's F0, the
// go-ahead and one a block. An adapter holds each of them for its timer.
inline int Replies(std::uint32_t imageBytes)
{
    return 4 + static_cast<int>((imageBytes + 255) / 256);
}

inline double Ms(std::uint32_t imageBytes, int versionReplyBytes, double byteMs = kByteMs)
{
    double ms = 0;
    ms += Exchange(2, versionReplyBytes, byteMs); // probe of the named port
    ms += Exchange(2, versionReplyBytes, byteMs); // the worker's re-search probe
    ms += Exchange(4, 0, byteMs);                 // model header
    ms += Exchange(4, 0, byteMs);                 // family header
    ms += Exchange(2, 1, byteMs);                 // ready probe, answered F0
    ms += Exchange(4, 0, byteMs);                 // model header again
    ms += 1 * byteMs + kReplyCloseMs;             // the go-ahead
    for (std::uint32_t sent = 0; sent < imageBytes; sent += 256) {
        const std::uint32_t block = std::min<std::uint32_t>(256, imageBytes - sent);
        ms += Exchange(static_cast<int>(block) + 3, 1, byteMs);
    }
    ms += Exchange(2, 0, byteMs); // end of image
    return ms;
}

} // namespace UpgradeFloor
