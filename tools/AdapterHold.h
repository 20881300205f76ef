#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// The USB-serial adapter at the host's end of the upgrade cable, on the way
// from the switch to the host. Such a chip (an FTDI above all) keeps what the
// switch sends until its latency timer runs out for the oldest byte it holds,
// or until it has a USB packet's worth, and only then passes it on: the host
// sees every reply late, and all of it at once.
//
// Like SwitchProtocol it never reads a clock: bytes go in with the moment
// they arrived from the wire, Due says when the held ones go on, and Pass
// hands over what has gone on by a given moment.
class AdapterHold {
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        std::chrono::milliseconds hold{0}; // the latency timer; 0: no adapter, bytes go on at once
        std::size_t flushBytes = 62;       // a 64-byte USB packet less its two status bytes
        // The timer ticks on its own, at a phase that has nothing to do with
        // the switch's reply: each burst waits anywhere from 0 to hold. The
        // waits come from the seed, so that a run can be repeated.
        bool freeRunning = false;
        std::uint32_t seed = 1;
    };

    AdapterHold(); // no adapter
    explicit AdapterHold(Settings settings);

    bool Active() const { return m_settings.hold.count() > 0; }

    // A byte that arrived whole from the switch at `at`. Arrivals come in
    // order; one stamped earlier than the last counts as arriving with it.
    void Arrive(std::uint8_t byte, Clock::time_point at);
    // When the bytes held go on to the host; time_point::max() when none are.
    Clock::time_point Due() const;
    // What has gone on to the host by `now`, in order; it leaves the adapter.
    std::vector<std::uint8_t> Pass(Clock::time_point now);
    bool Holding() const { return !m_held.empty() || !m_passed.empty(); }
    void Clear(); // the line has gone, and the adapter with it

private:
    Clock::duration NextWait();
    void Release();

    Settings m_settings;
    std::mt19937 m_random;
    std::vector<std::uint8_t> m_held;   // waiting for the timer or a full packet
    std::vector<std::uint8_t> m_passed; // gone on, not yet handed over
    Clock::time_point m_due{};          // when m_held goes on
    Clock::time_point m_lastArrival{};
};
