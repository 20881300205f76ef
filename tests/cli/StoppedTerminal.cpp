#include "StoppedTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

StoppedTerminal::StoppedTerminal()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slavePath = ::ptsname(m_master);
    m_slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        throw std::runtime_error("cannot open " + slavePath);
    // Stopped at once, before the child starts, rather than by filling the
    // buffer: how much a pseudo-terminal takes in before writes block varies
    // with when the kernel moves it along.
    if (::tcflow(m_slave, TCOOFF) != 0)
        throw std::runtime_error("cannot stop " + slavePath);
}

bool StoppedTerminal::StartAndReadUntil(const std::string& text, std::chrono::milliseconds timeout)
{
    if (::tcflow(m_slave, TCOON) != 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_shown.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        pollfd poller{m_master, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[4096];
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        m_shown.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

StoppedTerminal::~StoppedTerminal()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}
