#include "PtyFarEnd.h"

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/Deadline.h"

PtyFarEnd::PtyFarEnd()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slaveKeep, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed: errno " << errno;
        return;
    }
    m_path = name;
    termios tio{};
    ::tcgetattr(m_slaveKeep, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slaveKeep, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slaveKeep, F_SETFD, FD_CLOEXEC);
}

PtyFarEnd::~PtyFarEnd()
{
    CloseMaster();
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
}

void PtyFarEnd::CloseMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyFarEnd::ReleaseKeeper()
{
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    m_slaveKeep = -1;
}

void PtyFarEnd::Send(const std::vector<std::uint8_t>& bytes)
{
    const Deadline limit = Deadline::In(std::chrono::seconds(5));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ADD_FAILURE() << "far end write failed: errno " << errno;
            return;
        }
        if (limit.Expired()) {
            ADD_FAILURE() << "far end could not send " << bytes.size() << " bytes";
            return;
        }
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, limit.PollTimeoutMs());
    }
}

std::vector<std::uint8_t> PtyFarEnd::Receive(std::size_t n, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> got(n);
    std::size_t have = 0;
    const Deadline limit = Deadline::In(timeout);
    while (have < n) {
        const ssize_t r = ::read(m_master, got.data() + have, n - have);
        if (r > 0) {
            have += static_cast<std::size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0 || (r < 0 && errno != EAGAIN) || limit.Expired())
            break;
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, limit.PollTimeoutMs());
    }
    got.resize(have);
    return got;
}

std::size_t PtyFarEnd::QueuedAtHost() const
{
    int queued = 0;
    if (::ioctl(m_slaveKeep, FIONREAD, &queued) != 0)
        return 0;
    return static_cast<std::size_t>(queued);
}

termios PtyFarEnd::HostTermios() const
{
    termios tio{};
    ::tcgetattr(m_slaveKeep, &tio);
    return tio;
}

void PtyFarEnd::SetHostTermios(const termios& tio)
{
    if (::tcsetattr(m_slaveKeep, TCSANOW, &tio) != 0)
        ADD_FAILURE() << "tcsetattr failed: errno " << errno;
}

bool PtyFarEnd::WaitQueuedAtHost(std::size_t n, std::chrono::milliseconds timeout) const
{
    // The pty hands bytes to the host's queue from a kernel worker, a moment
    // after the master's write; there is no event for "n bytes queued".
    const Deadline limit = Deadline::In(timeout);
    while (QueuedAtHost() < n) {
        if (limit.Expired())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
