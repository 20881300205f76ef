#include "serial/PosixLowLatency.h"

#include <sys/ioctl.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#if defined(__linux__) && defined(TIOCGSERIAL) && defined(TIOCSSERIAL) && defined(ASYNC_LOW_LATENCY)

bool PosixLowLatency::Enable(int fd)
{
    m_changed = false;
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0)
        return false;
    info.flags |= ASYNC_LOW_LATENCY;
    m_changed = ::ioctl(fd, TIOCSSERIAL, &info) == 0;
    return m_changed;
}

void PosixLowLatency::Restore(int fd)
{
    if (!m_changed)
        return;
    m_changed = false;
    // Read again: only our one flag goes back, whatever else changed since.
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

#else

bool PosixLowLatency::Enable(int)
{
    return false;
}

void PosixLowLatency::Restore(int) {}

#endif
