#include "tools/AdapterHold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = AdapterHold::Clock;
using Us = std::chrono::microseconds;

const Clock::time_point kStart{};
constexpr auto kNever = Clock::time_point::max();

TEST(AdapterHold, PassesOnWhenTheTimerRunsOutOrAPacketIsFull)
{
    const struct {
        const char* name;
        std::chrono::milliseconds hold;
        std::vector<std::pair<int, Us>> arrivals; // so many bytes at that moment
        Us passAt;
        std::size_t passed;
        Clock::time_point dueAfter;
    } cases[] = {
        {"the oldest byte waits the hold", 16ms, {{1, 0us}}, 15999us, 0, kStart + 16ms},
        {"and then goes", 16ms, {{1, 0us}}, 16000us, 1, kNever},
        {"a later byte goes with the oldest", 16ms, {{1, 0us}, {1, 10000us}}, 16000us, 2, kNever},
        {"a packet's worth goes at once", 16ms, {{62, 0us}}, 0us, 62, kNever},
        {"the byte after a full packet waits again", 16ms, {{63, 1000us}}, 1000us, 62, kStart + 17ms},
        {"a byte after the timer ran out waits anew", 16ms, {{1, 0us}, {1, 20000us}}, 20000us, 1, kStart + 36ms},
        {"no adapter holds nothing", 0ms, {{3, 5000us}}, 5000us, 3, kNever},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AdapterHold adapter({c.hold, 62, false, 1});
        for (const auto& [count, at] : c.arrivals)
            for (int i = 0; i < count; ++i)
                adapter.Arrive(0x55, kStart + at);
        EXPECT_EQ(adapter.Pass(kStart + c.passAt).size(), c.passed);
        EXPECT_EQ(adapter.Due(), c.dueAfter);
    }
}

// The free-running timer's waits: anywhere in the hold, the same for a seed.
std::vector<Us> Waits(std::uint32_t seed)
{
    AdapterHold adapter({16ms, 62, true, seed});
    std::vector<Us> waits;
    for (int burst = 0; burst < 200; ++burst) {
        const Clock::time_point at = kStart + std::chrono::seconds(burst);
        adapter.Arrive(0xF0, at);
        waits.push_back(std::chrono::duration_cast<Us>(adapter.Due() - at));
        adapter.Pass(at + 16ms);
    }
    return waits;
}

TEST(AdapterHold, AFreeRunningTimerWaitsAnywhereInTheHoldAsTheSeedSays)
{
    const std::vector<Us> waits = Waits(1);
    EXPECT_GE(*std::min_element(waits.begin(), waits.end()), 0us);
    EXPECT_LT(*std::min_element(waits.begin(), waits.end()), 2ms);
    EXPECT_GT(*std::max_element(waits.begin(), waits.end()), 14ms);
    EXPECT_LE(*std::max_element(waits.begin(), waits.end()), 16ms);
    EXPECT_EQ(Waits(1), waits);
    EXPECT_NE(Waits(2), waits);
}

} // namespace
