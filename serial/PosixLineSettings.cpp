#include "serial/PosixLineSettings.h"

#include <cerrno>
#include <optional>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

using Kind = SerialError::Kind;

void Fail(SerialError& error, Kind kind, int err)
{
    error.kind = kind;
    error.sysErrno = err;
}

std::optional<speed_t> SpeedFor(int baudRate)
{
    switch (baudRate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
#ifdef B460800
    case 460800: return B460800;
#endif
#ifdef B500000
    case 500000: return B500000;
#endif
#ifdef B921600
    case 921600: return B921600;
#endif
#ifdef B1000000
    case 1000000: return B1000000;
#endif
    default: return std::nullopt;
    }
}

} // namespace

namespace PosixLineSettings {

bool Apply(int fd, int baudRate, SerialError& error)
{
    const auto speed = SpeedFor(baudRate);
    if (!speed) {
        Fail(error, Kind::SettingsRefused, EINVAL);
        return false;
    }

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        Fail(error, Kind::SettingsRefused, errno);
        return false;
    }
    // Every byte value must pass unchanged both ways: no translation, no
    // software flow control, no parity checking, breaks delivered as 0.
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL
                                          | IXON | IXOFF | IXANY | INPCK | IGNPAR | IMAXBEL);
#ifdef IUCLC
    tio.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD);
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
#ifdef CMSPAR
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    // The switch's loader expects two stop bits.
    tio.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    // Reads never block in the driver; the time-outs are ours, kept with poll().
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0) {
        Fail(error, Kind::SettingsRefused, errno);
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        Fail(error, Kind::SettingsRefused, errno);
        return false;
    }

    // tcsetattr succeeds when any part of the request took; check the parts
    // the switch depends on.
    termios now{};
    if (::tcgetattr(fd, &now) != 0) {
        Fail(error, Kind::SettingsRefused, errno);
        return false;
    }
    const tcflag_t must = CS8 | CSTOPB;
    if ((now.c_cflag & (CSIZE | CSTOPB | PARENB)) != must || ::cfgetospeed(&now) != *speed
        || (now.c_iflag & (IXON | IXOFF)) != 0) {
        Fail(error, Kind::SettingsRefused, 0);
        return false;
    }

    // The cable draws no handshake from DTR or RTS; hold both inactive. A
    // pseudo-terminal has no modem lines and refuses the request.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        Fail(error, Kind::SettingsRefused, errno);
        return false;
    }
    return true;
}

} // namespace PosixLineSettings
