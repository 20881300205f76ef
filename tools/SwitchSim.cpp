#include "tools/SwitchSim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr auto kByteTime = SwitchProtocol::kByteTime;
// A babbling switch writes a chunk every millisecond: about the line's rate.
constexpr auto kBabbleInterval = 1ms;
constexpr std::size_t kBabbleChunk = 10;
// Without line timing a switch babbling after the go-ahead writes this much a
// millisecond: faster than the line, as all of this switch is without line
// timing, so that a host reading every byte at once still finds some waiting
// after the switch's thread was held up for a moment. A full line loses the
// rest, so neither memory nor the host's time grows with it.
constexpr std::size_t kFastBabbleChunk = 256;
// hangUpAfterLastAck: how often the host's input queue is looked at once the
// ack is written, and how long the host has to take it. The host waits 20 ms
// for more reply bytes before its next frame, so a millisecond is early
// enough for its next write to find the line gone.
constexpr auto kAckCheckInterval = 1ms;
constexpr auto kAckReadLimit = 2s;
constexpr auto kAckBlindGrace = 5ms;
// With no host on the line the master sees a hang-up that poll() reports
// without end; it is looked at again this often until a host opens the line.
constexpr auto kHostAbsentRecheck = 2ms;

constexpr std::uint8_t kNoise = SwitchProtocol::kNoise;

void SetError(std::string* error, const std::string& what)
{
    if (error)
        *error = what + ": " + std::strerror(errno);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bool ok = done == data.size();
    return ::close(fd) == 0 && ok;
}

timespec ToTimespec(std::chrono::nanoseconds left)
{
    if (left < 0ns)
        left = 0ns;
    auto secs = std::chrono::duration_cast<std::chrono::seconds>(left);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(secs.count());
    ts.tv_nsec = static_cast<long>((left - secs).count());
    return ts;
}

} // namespace

SwitchSim::SwitchSim(SwitchSimConfig config) : m_config(std::move(config)) {}

SwitchSim::~SwitchSim()
{
    Stop();
}

bool SwitchSim::Start(std::string* error)
{
    if (m_thread.joinable()) {
        if (error)
            *error = "the simulated switch is already running";
        return false;
    }

    if (!m_pty.Open(m_config.linkPath, error))
        return false;
    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        SetError(error, "pipe");
        m_pty.Close();
        CloseFds();
        return false;
    }

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_protocol = SwitchProtocol(m_config);
    }
    m_lastOutDue = Clock::time_point{};
    m_hangUpNow = false;
    m_out.clear();
    m_outBlocked = false;
    m_babbleArmed = false;
    m_babbling = false;
    m_lastAckPending = false;
    m_lastAckGiveUp = m_nextAckCheck = Clock::time_point{};
    m_imagesWritten = 0;
    m_hostAbsent = true;
    m_hostCheck = Clock::time_point{};
    m_quit = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SwitchSim::Stop()
{
    if (m_thread.joinable()) {
        m_quit = true;
        const char wake = 'q';
        while (::write(m_wakePipe[1], &wake, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    m_pty.Close();
    CloseFds();
}

void SwitchSim::CloseFds()
{
    CloseFd(m_wakePipe[0]);
    CloseFd(m_wakePipe[1]);
}

SwitchSimReport SwitchSim::Report() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_protocol.Report();
}

bool SwitchSim::WaitForReport(const std::function<bool(const SwitchSimReport&)>& condition,
                              std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return condition(m_protocol.Report()); });
}

void SwitchSim::Run()
{
    // Replies are due to the microsecond under line timing; the default timer
    // slack of 50 us would be added to every one of them.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    m_nextBabble = Clock::now();
    std::uint8_t buffer[4096];
    while (!m_quit) {
        Clock::time_point now = Clock::now();
        Clock::time_point frameDeadline;
        bool frameEnded = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            frameEnded = m_protocol.Tick(now);
            TakeProtocolOutput();
            frameDeadline = m_protocol.Deadline();
        }
        if (frameEnded)
            m_changed.notify_all();
        if (m_hangUpNow)
            HangUp();
        WriteDue(now);
        Babble(now);
        CheckLastAckTaken(now);
        CheckHostPresent(now);

        Clock::time_point deadline = Clock::time_point::max();
        if (m_pty.Master() >= 0) {
            deadline = frameDeadline;
            if (m_hostAbsent)
                deadline = std::min(deadline, m_hostCheck);
            if (!m_outBlocked && !m_out.empty())
                deadline = std::min(deadline, m_out.front().due);
            if (m_config.babble || m_babbling)
                deadline = std::min(deadline, NextBabble());
            if (m_lastAckPending && m_out.empty())
                deadline = std::min(deadline, m_nextAckCheck);
        }

        pollfd fds[2] = {{m_wakePipe[0], POLLIN, 0}, {m_pty.Master(), POLLIN, 0}};
        if (m_outBlocked)
            fds[1].events |= POLLOUT;
        nfds_t count = m_pty.Master() >= 0 && !m_hostAbsent ? 2 : 1;
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline != Clock::time_point::max()) {
            timeout = ToTimespec(deadline - Clock::now());
            timeoutPtr = &timeout;
        }
        int ready = ::ppoll(fds, count, timeoutPtr, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            char sink[64];
            while (::read(m_wakePipe[0], sink, sizeof sink) > 0) {
            }
        }
        if (count == 2) {
            if (fds[1].revents & POLLOUT)
                m_outBlocked = false;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::read(m_pty.Master(), buffer, sizeof buffer);
                if (n > 0) {
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_protocol.Receive(buffer, static_cast<std::size_t>(n), Clock::now());
                        TakeProtocolOutput();
                    }
                    m_changed.notify_all();
                } else if (n < 0 && errno == EIO) {
                    // The host has closed the line; it may open it again.
                    m_hostAbsent = true;
                    m_hostCheck = Clock::now() + kHostAbsentRecheck;
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    m_hangUpNow = true; // the line is gone; never spin on it
            }
        }
        if (m_hangUpNow)
            HangUp();
    }
}

void SwitchSim::CheckHostPresent(Clock::time_point now)
{
    if (!m_hostAbsent || m_pty.Master() < 0 || now < m_hostCheck)
        return;
    if (m_pty.NoHost()) {
        m_hostCheck = now + kHostAbsentRecheck;
        return;
    }
    m_hostAbsent = false;
}

void SwitchSim::TakeProtocolOutput()
{
    SwitchProtocol::Output output = m_protocol.TakeOutput();
    for (const SwitchProtocol::Reply& reply : output.replies)
        Queue(reply.bytes, reply.due);
    if (output.babbleOnceWritten)
        m_babbleArmed = true;
    if (output.hangUpOnceRead) {
        m_lastAckPending = true;
        m_lastAckGiveUp = m_nextAckCheck = Clock::time_point{};
    }
    if (output.hangUpNow)
        m_hangUpNow = true;
    // Still under the lock: the file is complete before anyone waiting for
    // the end of the image sees it.
    const SwitchSimReport& report = m_protocol.Report();
    if (report.endOfImageCount != m_imagesWritten) {
        m_imagesWritten = report.endOfImageCount;
        if (!m_config.imageOut.empty())
            WriteWholeFile(m_config.imageOut, report.image);
    }
}

void SwitchSim::Queue(const std::vector<std::uint8_t>& bytes, Clock::time_point due)
{
    // Bytes of one burst follow each other without a gap, after whatever is
    // still being sent.
    Clock::time_point start = std::max(due, m_lastOutDue);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Clock::time_point at = start;
        if (m_config.lineTiming)
            at += kByteTime * static_cast<long>(i + 1);
        m_out.push_back({bytes[i], at});
    }
    if (!m_out.empty())
        m_lastOutDue = m_out.back().due;
}

void SwitchSim::WriteDue(Clock::time_point now)
{
    if (m_pty.Master() < 0 || m_outBlocked)
        return;
    std::uint8_t chunk[4096];
    std::size_t count = 0;
    while (count < m_out.size() && count < sizeof chunk && m_out[count].due <= now) {
        chunk[count] = m_out[count].value;
        ++count;
    }
    if (count == 0)
        return;
    ssize_t n = ::write(m_pty.Master(), chunk, count);
    if (n < 0) {
        if (errno == EAGAIN)
            m_outBlocked = true;
        else if (errno != EINTR)
            m_out.clear();
        return;
    }
    m_out.erase(m_out.begin(), m_out.begin() + n);
    if (static_cast<std::size_t>(n) < count)
        m_outBlocked = true;
}

void SwitchSim::Babble(Clock::time_point now)
{
    if (m_babbleArmed && m_out.empty())
        StartBabbleAfterGoAhead(); // the go-ahead has been written
    if (m_babbling && m_config.lineTiming) {
        BabbleAtLineRate(now);
        return;
    }
    if (!(m_config.babble || m_babbling) || m_pty.Master() < 0 || now < m_nextBabble)
        return;
    m_nextBabble += kBabbleInterval;
    if (m_nextBabble < now)
        m_nextBabble = now + kBabbleInterval;
    // A reply goes out whole; the noise resumes after it.
    if (!m_out.empty())
        return;
    std::uint8_t noise[kFastBabbleChunk];
    const std::size_t count = m_babbling ? kFastBabbleChunk : kBabbleChunk;
    std::memset(noise, m_babbling ? *m_config.babbleAfterGoAhead : kNoise, count);
    // Nobody may be reading: the noise that does not fit is simply lost.
    ssize_t ignored = ::write(m_pty.Master(), noise, count);
    (void)ignored;
}

void SwitchSim::StartBabbleAfterGoAhead()
{
    m_babbleArmed = false;
    m_babbling = true;
    // The first byte follows the go-ahead on the line.
    m_nextBabble = m_config.lineTiming ? m_lastOutDue + kByteTime : Clock::now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_protocol.BabbleBegun();
    }
    m_changed.notify_all();
}

SwitchSim::Clock::time_point SwitchSim::NextBabble() const
{
    if (!(m_babbling && m_config.lineTiming))
        return m_nextBabble;
    // Under line timing m_nextBabble is when the next byte has fully arrived;
    // the thread wakes when a chunk's worth is due, not for every byte, or
    // when the bytes that fit before a queued reply are due.
    Clock::time_point wake = m_nextBabble + kByteTime * static_cast<long>(kBabbleChunk - 1);
    if (!m_out.empty()) {
        const Clock::time_point replyStarts = m_out.front().due - kByteTime;
        if (m_nextBabble > replyStarts)
            return Clock::time_point::max(); // the reply's turn; woken by its own deadline
        wake = std::min(wake, replyStarts);
    }
    return wake;
}

void SwitchSim::BabbleAtLineRate(Clock::time_point now)
{
    if (m_pty.Master() < 0)
        return;
    // The babble fills the line up to a queued reply's first byte; the reply
    // goes out whole and the babble follows it.
    if (m_out.empty())
        m_nextBabble = std::max(m_nextBabble, m_lastOutDue + kByteTime);
    if (now < NextBabble())
        return;
    const Clock::time_point until =
        m_out.empty() ? now : std::min(now, m_out.front().due - kByteTime);
    if (until < m_nextBabble)
        return;
    // Only bytes whose time on the line has come; a thread that fell behind
    // (a loaded machine) does not catch up in a burst.
    const auto late = static_cast<std::size_t>((until - m_nextBabble) / kByteTime);
    const std::size_t count = std::min(late + 1, kBabbleChunk);
    m_nextBabble += kByteTime * static_cast<long>(count);
    if (m_out.empty())
        m_lastOutDue = m_nextBabble - kByteTime; // a reply queued later waits for these
    if (m_nextBabble + kBabbleInterval < now)
        m_nextBabble = now;
    std::uint8_t bytes[kBabbleChunk];
    std::memset(bytes, *m_config.babbleAfterGoAhead, count);
    // A full line loses what does not fit, as a host's overrun UART would.
    ssize_t ignored = ::write(m_pty.Master(), bytes, count);
    (void)ignored;
}

void SwitchSim::CheckLastAckTaken(Clock::time_point now)
{
    if (!m_lastAckPending || m_pty.Master() < 0 || !m_out.empty() || now < m_nextAckCheck)
        return;
    if (m_lastAckGiveUp == Clock::time_point{})
        m_lastAckGiveUp = now + kAckReadLimit;
    // A pseudo-terminal's hang-up throws away the host's unread input, where
    // a real line's leaves it to be read: wait until the host has taken the
    // ack. Where the host's queue cannot be looked at, the host is given a
    // few milliseconds, well inside its 20 ms wait for more reply.
    const std::optional<bool> seen = m_pty.HostHasUnread();
    const bool unread = seen ? *seen : now < m_lastAckGiveUp - kAckReadLimit + kAckBlindGrace;
    if (unread && now < m_lastAckGiveUp) {
        m_nextAckCheck = now + kAckCheckInterval;
        return;
    }
    HangUp();
}

void SwitchSim::HangUp()
{
    m_hangUpNow = false;
    m_lastAckPending = false;
    m_babbleArmed = false;
    // Closing the master takes the device node away.
    m_pty.CloseMaster();
    m_out.clear();
    m_outBlocked = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_protocol.LineClosed();
    }
    m_changed.notify_all();
}
