// The Windows serial line's read rule, through Wine's COM port to a
// pseudo-terminal: a read of n bytes returns as soon as n bytes have come,
// after a gap of more than the interval between two bytes, or after
// n * interval + interval in all. The bounds are generous: Wine adds its own
// latency to every wait.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "PtyFarEnd.h"
#include "tests/wine/WineHost.h"

namespace {

using namespace std::chrono_literals;

constexpr int kComFrom = 20;

TEST(WineReadRule, BytesGapAndTotal)
{
    WineHost::Prepare();
    const struct {
        const char* name;
        int length;
        int intervalMs;
        int sent; // bytes the far end sends once the read is under way
        int minMs;
        int maxMs;
    } cases[] = {
        // All there: at once, long before the interval or the total.
        {"all bytes", 4, 1000, 4, 0, 900},
        // Two of four, then nothing: the gap ends it, not the total (1500 ms).
        {"gap", 4, 300, 2, 150, 1200},
        // Nothing at all: the total, 3 * 250 + 250 ms.
        {"total", 3, 250, 0, 800, 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyFarEnd farEnd;
        WineComLink link(farEnd.DevicePath(), kComFrom);
        ChildProcess probe(WineHost::Command(WineHost::Program("tests/windows/serial_read_probe.exe"),
                                             {link.Device(), std::to_string(c.length),
                                              std::to_string(c.intervalMs)}));
        // Its C runtime writes text with CR LF.
        ASSERT_EQ(probe.ReadOutLine(60s), "ready\r") << probe.ErrSoFar();
        if (c.sent > 0)
            farEnd.Send(std::vector<std::uint8_t>(static_cast<std::size_t>(c.sent), 0x41));
        const std::string line = probe.ReadOutLine(30s);
        int got = -1;
        long long ms = -1;
        int whole = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "got %d bytes in %lld ms (whole %d)", &got, &ms, &whole), 3)
            << line;
        EXPECT_EQ(got, c.sent);
        EXPECT_EQ(whole, c.sent == c.length ? 1 : 0);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
        EXPECT_EQ(probe.Wait(30s).exitCode, 0);
    }
}

} // namespace
