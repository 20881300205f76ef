#include "serial/PosixSerialBackend.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "serial/Deadline.h"
#include "serial/DeviceHolderFinder.h"

namespace {

using Kind = SerialError::Kind;

Kind KindForOpenErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Kind::NoSuchDevice;
    case EACCES:
    case EPERM:
        return Kind::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return Kind::Busy;
    case ENOTTY:
        return Kind::NotATerminal;
    default:
        return Kind::Other;
    }
}

// Errors after which the device is gone for good.
bool IsHangUpErrno(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV;
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

// n * interval + interval, saturated so a huge read cannot overflow the
// clock; a day is far beyond any wait this program makes.
Deadline::Clock::duration TotalReadTime(std::size_t n, std::chrono::milliseconds interval)
{
    constexpr std::chrono::milliseconds kCap = std::chrono::hours(24);
    if (interval.count() == 0)
        return Deadline::Clock::duration::zero();
    const auto perByte = static_cast<unsigned long long>(interval.count());
    const auto cap = static_cast<unsigned long long>(kCap.count());
    const unsigned long long count = static_cast<unsigned long long>(n) + 1;
    if (count > cap / perByte)
        return kCap;
    return std::chrono::milliseconds(static_cast<long long>(count * perByte));
}

// The reentrant look-ups: a scan may run on a worker thread while another
// thread reads the same databases.
std::string GroupName(gid_t gid)
{
    std::vector<char> buffer(4096);
    for (int round = 0; round < 8; ++round, buffer.resize(buffer.size() * 4)) {
        group entry{};
        group* found = nullptr;
        const int err = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE)
            continue;
        return err == 0 && found != nullptr ? std::string(found->gr_name) : std::string();
    }
    return std::string();
}

// The groups the group database gives this process's user, which a new
// login would have; empty when the user cannot be found.
std::vector<gid_t> DatabaseGroups()
{
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* user = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &user) == ERANGE
           && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 4);
    if (user == nullptr)
        return {};
    std::vector<gid_t> groups(64);
    for (int round = 0; round < 8; ++round) {
        int count = static_cast<int>(groups.size());
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<std::size_t>(count));
            return groups;
        }
        groups.resize(static_cast<std::size_t>(std::max(count, static_cast<int>(groups.size()) * 2)));
    }
    return {};
}

bool ProcessHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Which group would let the user in, asked at the failure: the answer the
// user needs is "join group X" or "log in again".
void ExplainPermission(const std::string& device, SerialError& error)
{
    struct stat node{};
    if (::stat(device.c_str(), &node) != 0)
        return;
    // Joining a group that may not read and write the device, or root's
    // own group, is no advice.
    const bool groupMayUse = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!groupMayUse || node.st_gid == 0)
        return;
    error.deviceGroup = GroupName(node.st_gid);
    if (error.deviceGroup.empty())
        return;
    const std::vector<gid_t> database = DatabaseGroups();
    error.inGroupDatabase = std::find(database.begin(), database.end(), node.st_gid) != database.end();
    error.inGroupProcess = ProcessHasGroup(node.st_gid);
}

// Named while it still holds the device: by the time anyone reads the
// error it may have let go. This process's own descriptors (another port
// object, a pseudo-terminal's keeper) name no program the user could stop.
void NameHolder(const std::string& device, SerialError& error)
{
    if (const auto holder = DeviceHolderFinder().Find(device, static_cast<long>(::getpid()))) {
        error.holderPid = holder->pid;
        error.holderName = holder->name;
    }
}

void Fail(SerialError& error, Kind kind, int err)
{
    error.kind = kind;
    error.sysErrno = err;
}

// A failed open, explained as far as the system can tell at this moment.
void FailOpen(SerialError& error, const std::string& device, Kind kind, int err)
{
    Fail(error, kind, err);
    if (kind == Kind::Busy)
        NameHolder(device, error);
    else if (kind == Kind::PermissionDenied)
        ExplainPermission(device, error);
}

// Waits until the terminal's output queue is empty, the queue cannot be asked
// (a line that has gone), or the deadline passes. There is no event for an
// empty queue short of tcdrain, which may never return on a stalled line.
void WaitForOutputSent(int fd, const Deadline& limit)
{
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0 || limit.Expired())
            return;
        std::this_thread::sleep_for(
            std::min<Deadline::Clock::duration>(std::chrono::milliseconds(1), limit.Left()));
    }
}

} // namespace

std::unique_ptr<SerialBackend> SerialBackend::Create()
{
    return std::make_unique<PosixSerialBackend>();
}

PosixSerialBackend::~PosixSerialBackend()
{
    Close();
}

bool PosixSerialBackend::Open(const std::string& device, int baudRate, SerialError& error)
{
    error.device = device;
    std::lock_guard<std::mutex> lock(m_lifeMutex);
    if (m_fd.load() >= 0) {
        Fail(error, Kind::AlreadyOpen, 0);
        return false;
    }

    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        FailOpen(error, device, KindForOpenErrno(err), err);
        return false;
    }
    // Started with a standard stream closed, the process would get the port
    // on descriptor 0, 1 or 2, and whatever it prints would go to the switch.
    if (fd <= 2) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        const int err = errno;
        ::close(fd);
        if (moved < 0) {
            Fail(error, Kind::Other, err);
            return false;
        }
        fd = moved;
    }
    if (!::isatty(fd)) {
        const int err = errno;
        ::close(fd);
        Fail(error, Kind::NotATerminal, err);
        return false;
    }
    // TIOCEXCL keeps out other openers but not root; the advisory lock is
    // what another copy of this program (root or not) runs into.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        FailOpen(error, device, err == EWOULDBLOCK ? Kind::Busy : Kind::Other, err);
        return false;
    }
    // Taken before anything changes, so that Close, and a release at exit,
    // can leave the terminal as we found it (a console mapped by mistake must
    // not stay raw).
    termios found{};
    if (::tcgetattr(fd, &found) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(error, Kind::SettingsRefused, err);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(error, Kind::Other, err);
        return false;
    }

    m_saved = found;
    m_fd = fd;
    m_dead = false;
    m_ioError = Kind::None;
    m_ioErrno = 0;
    m_interval = std::chrono::milliseconds(0);
    if (!Configure(fd, baudRate, error)) {
        CloseLocked(fd);
        return false;
    }
    error.kind = Kind::None;
    error.sysErrno = 0;
    return true;
}

bool PosixSerialBackend::Configure(int fd, int baudRate, SerialError& error)
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

bool PosixSerialBackend::IsOpen() const
{
    return m_fd.load() >= 0;
}

void PosixSerialBackend::Close()
{
    // Only the owner closes, so the descriptor cannot change under us here;
    // the wait stays outside the lock, so a release at exit never waits on it.
    const int fd = m_fd.load();
    if (fd < 0)
        return;
    if (!m_dead)
        WaitForOutputSent(fd, Deadline::In(kCloseDrainLimit));
    std::lock_guard<std::mutex> lock(m_lifeMutex);
    CloseLocked(fd);
}

void PosixSerialBackend::CloseLocked(int fd)
{
    RestoreLocked(fd);
    ::close(fd); // also releases the flock
    m_fd = -1;
    m_saved.reset();
    m_dead = false;
}

void PosixSerialBackend::RestoreLocked(int fd)
{
    if (m_saved)
        ::tcsetattr(fd, TCSANOW, &*m_saved);
    // The exclusive flag belongs to the terminal, not to our descriptor: left
    // set, it would refuse the next open while another descriptor (a
    // pseudo-terminal's keeper, or our own until the process is gone) holds
    // the terminal.
    ::ioctl(fd, TIOCNXCL);
}

bool PosixSerialBackend::SetTimeouts(std::chrono::milliseconds interval)
{
    if (m_fd < 0 || interval.count() < 0)
        return false;
    m_interval = interval;
    return true;
}

bool PosixSerialBackend::Purge()
{
    const int fd = m_fd.load();
    if (fd < 0)
        return false;
    if (::tcflush(fd, TCIOFLUSH) != 0) {
        const int err = errno;
        MarkDeadIf(err);
        if (!m_dead)
            FailIo(Kind::ReadFailed, err);
        return false;
    }
    return true;
}

SerialError PosixSerialBackend::LastIoError() const
{
    SerialError error;
    error.kind = m_ioError;
    error.sysErrno = m_ioErrno;
    return error;
}

void PosixSerialBackend::FailIo(Kind kind, int err)
{
    m_ioError = kind;
    m_ioErrno = err;
}

void PosixSerialBackend::MarkDead()
{
    m_dead = true;
    FailIo(Kind::HungUp, 0);
}

void PosixSerialBackend::MarkDeadIf(int err)
{
    if (IsHangUpErrno(err)) {
        m_dead = true;
        FailIo(Kind::HungUp, err);
    }
}

std::size_t PosixSerialBackend::Read(std::uint8_t* data, std::size_t length)
{
    const int fd = m_fd.load();
    if (fd < 0 || m_dead || length == 0)
        return 0;

    const Deadline total(Deadline::Clock::now() + TotalReadTime(length, m_interval));
    std::optional<Deadline> gap; // runs from the last byte received
    std::size_t got = 0;

    for (bool polled = false;; polled = true) {
        const Deadline limit = gap ? Deadline::Earlier(total, *gap) : total;
        // Checked here as well as on a poll() time-out, so that no run of
        // events (spurious wake-ups, EAGAIN after POLLIN) outlasts the wait.
        // The first round always polls: a zero time-out still takes what
        // is queued.
        if (polled && limit.Expired())
            return got;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, limit.PollTimeoutMs());
        if (r < 0) {
            if (errno == EINTR)
                continue;
            FailIo(Kind::ReadFailed, errno);
            return got;
        }
        if (r == 0)
            continue;
        if (p.revents & POLLNVAL) {
            MarkDead();
            return got;
        }
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(fd, data + got, length - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                if (got == length)
                    return got;
                gap = Deadline::In(m_interval);
                continue;
            }
            if (n == 0) { // end of file on a terminal: it has hung up
                MarkDead();
                return got;
            }
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            const int err = errno;
            MarkDeadIf(err);
            if (!m_dead)
                FailIo(Kind::ReadFailed, err);
            return got;
        }
        if (p.revents & (POLLHUP | POLLERR)) {
            MarkDead();
            return got;
        }
    }
}

std::size_t PosixSerialBackend::Write(const std::uint8_t* data, std::size_t length)
{
    const int fd = m_fd.load();
    if (fd < 0 || m_dead)
        return 0;

    std::size_t done = 0;
    Deadline stall = Deadline::In(kWriteStallLimit);
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stall = Deadline::In(kWriteStallLimit);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int err = errno;
            MarkDeadIf(err);
            if (!m_dead)
                FailIo(Kind::WriteFailed, err);
            return done;
        }
        // The output queue is full: wait for room, but not for ever.
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, stall.PollTimeoutMs());
        if (r < 0 && errno != EINTR) {
            FailIo(Kind::WriteFailed, errno);
            return done;
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
            MarkDead();
            return done;
        }
        if (r == 0 && stall.Expired()) {
            FailIo(Kind::WriteStalled, 0);
            return done;
        }
    }
    return done;
}

void PosixSerialBackend::ReleaseForExit()
{
    // Called from another thread while the owner may be inside Read or
    // Write; those take no lock and keep their descriptor, which stays open.
    std::lock_guard<std::mutex> lock(m_lifeMutex);
    const int fd = m_fd.load();
    if (fd < 0)
        return;
    WaitForOutputSent(fd, Deadline::In(kExitDrainLimit));
    RestoreLocked(fd);
}
