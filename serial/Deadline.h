#pragma once

#include <algorithm>
#include <chrono>
#include <climits>

// A point in time on the steady clock that a wait must not pass. Every wait
// asks it afresh for the time left, so a poll() cut short by a signal or a
// byte never stretches the whole wait.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(Clock::time_point at) : m_at(at) {}

    static Deadline In(Clock::duration d) { return Deadline(Clock::now() + d); }

    bool Expired() const { return Clock::now() >= m_at; }

    Clock::duration Left() const
    {
        const auto left = m_at - Clock::now();
        return left > Clock::duration::zero() ? left : Clock::duration::zero();
    }

    // The time left as a poll() time-out. Rounded up to a whole millisecond
    // so a wait never ends before the deadline (it may end less than 1 ms
    // after it).
    int PollTimeoutMs() const
    {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(Left()).count();
        return static_cast<int>(std::min<long long>(ms, INT_MAX));
    }

    // The earlier of two deadlines.
    static Deadline Earlier(const Deadline& a, const Deadline& b)
    {
        return a.m_at <= b.m_at ? a : b;
    }

private:
    Clock::time_point m_at;
};
