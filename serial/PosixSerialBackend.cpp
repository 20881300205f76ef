#include "serial/PosixSerialBackend.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "serial/Deadline.h"
#include "serial/DeviceHolderFinder.h"
#include "serial/PosixLineSettings.h"
#include "serial/PosixOpenFailure.h"

namespace {

using Kind = SerialError::Kind;

// Errors after which the device is gone for good.
bool IsHangUpErrno(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV;
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

void Fail(SerialError& error, Kind kind, int err)
{
    error.kind = kind;
    error.sysErrno = err;
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
        PosixOpenFailure::Explain(error, device, PosixOpenFailure::KindForErrno(err), err);
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
        PosixOpenFailure::Explain(error, device, err == EWOULDBLOCK ? Kind::Busy : Kind::Other, err);
        return false;
    }
    // Other programs keep off the line too, or their bytes land in our
    // frames and ours in their screens: a terminal program's lock file, and
    // anyone else holding the device open (a forgotten minicom or screen, a
    // getty, a cat), root or not. TIOCEXCL alone keeps out neither a program
    // that opened the port before us nor root.
    if (!ClaimFromOthers(device, error)) {
        ::close(fd);
        m_lockFile.Release();
        return false;
    }
    // Taken before anything changes, so that Close, and a release at exit,
    // can leave the terminal as we found it (a console mapped by mistake must
    // not stay raw).
    termios found{};
    if (::tcgetattr(fd, &found) != 0) {
        const int err = errno;
        ::close(fd);
        m_lockFile.Release();
        Fail(error, Kind::SettingsRefused, err);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(fd);
        m_lockFile.Release();
        Fail(error, Kind::Other, err);
        return false;
    }

    m_saved = found;
    m_fd = fd;
    m_dead = false;
    m_ioError = Kind::None;
    m_ioErrno = 0;
    m_interval = std::chrono::milliseconds(0);
    if (!PosixLineSettings::Apply(fd, baudRate, error)) {
        CloseLocked(fd);
        return false;
    }
    m_lowLatency.Enable(fd);
    error.kind = Kind::None;
    error.sysErrno = 0;
    return true;
}

bool PosixSerialBackend::ClaimFromOthers(const std::string& device, SerialError& error)
{
    long lockHolder = 0;
    if (!m_lockFile.Acquire(device, lockHolder)) {
        PosixOpenFailure::NameHolderPid(error, lockHolder);
        return false;
    }
    // This process's own descriptors (another port object, a
    // pseudo-terminal's keeper) are no other program.
    if (const auto holder = DeviceHolderFinder().Find(device, static_cast<long>(::getpid()))) {
        Fail(error, Kind::Busy, EBUSY);
        error.holderPid = holder->pid;
        error.holderName = holder->name;
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
    m_lowLatency.Restore(fd);
    m_lockFile.Release();
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
