#include "tools/WakePipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

WakePipe::~WakePipe()
{
    Close();
}

bool WakePipe::Open(std::string* error)
{
    Close();
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) == 0)
        return true;
    m_fds[0] = m_fds[1] = -1;
    if (error)
        *error = std::string("pipe: ") + std::strerror(errno);
    return false;
}

void WakePipe::Close()
{
    for (int& fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void WakePipe::Wake()
{
    // A full pipe wakes the thread as well as one more byte would.
    const char wake = 'q';
    while (::write(m_fds[1], &wake, 1) < 0 && errno == EINTR) {
    }
}

void WakePipe::Drain()
{
    char sink[64];
    while (::read(m_fds[0], sink, sizeof sink) > 0) {
    }
}
