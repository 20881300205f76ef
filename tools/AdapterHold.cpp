#include "tools/AdapterHold.h"

#include <algorithm>
#include <utility>

AdapterHold::AdapterHold() : AdapterHold(Settings{}) {}

AdapterHold::AdapterHold(Settings settings)
    : m_settings(settings), m_random(settings.seed)
{
    // A packet of no bytes would never fill; one byte is the smallest there is.
    m_settings.flushBytes = std::max<std::size_t>(m_settings.flushBytes, 1);
}

void AdapterHold::Arrive(std::uint8_t byte, Clock::time_point at)
{
    at = std::max(at, m_lastArrival);
    m_lastArrival = at;
    if (!Active()) {
        m_passed.push_back(byte);
        return;
    }
    // The timer of the bytes already held ran out before this one came.
    if (!m_held.empty() && at >= m_due)
        Release();
    if (m_held.empty())
        m_due = at + NextWait();
    m_held.push_back(byte);
    if (m_held.size() >= m_settings.flushBytes)
        Release();
}

AdapterHold::Clock::time_point AdapterHold::Due() const
{
    if (!m_passed.empty())
        return m_lastArrival;
    return m_held.empty() ? Clock::time_point::max() : m_due;
}

std::vector<std::uint8_t> AdapterHold::Pass(Clock::time_point now)
{
    if (!m_held.empty() && now >= m_due)
        Release();
    return std::exchange(m_passed, {});
}

void AdapterHold::Clear()
{
    m_held.clear();
    m_passed.clear();
}

AdapterHold::Clock::duration AdapterHold::NextWait()
{
    const Clock::duration hold = m_settings.hold;
    if (!m_settings.freeRunning)
        return hold;
    // Drawn by hand rather than by a distribution, whose numbers differ
    // between standard libraries: a seed gives the same waits everywhere.
    const auto micros = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(hold).count());
    const std::uint64_t high = m_random();
    const std::uint64_t draw = (high << 32) | m_random();
    return std::chrono::microseconds(static_cast<std::int64_t>(draw % (micros + 1)));
}

void AdapterHold::Release()
{
    m_passed.insert(m_passed.end(), m_held.begin(), m_held.end());
    m_held.clear();
}
