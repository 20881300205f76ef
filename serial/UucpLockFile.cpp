#include "serial/UucpLockFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A lock file holds a pid and a line end; anything longer is not one.
constexpr std::size_t kMaxLockFileBytes = 64;

std::filesystem::path SystemLockDir()
{
    std::error_code ec;
    if (std::filesystem::is_directory("/run/lock", ec))
        return "/run/lock";
    return "/var/lock";
}

// The pid in a lock file: ten ASCII digits padded with blanks (the usual
// form), 0 when the file cannot be read or holds no pid.
long ReadLockPid(const std::string& path)
{
    // Never follow a link or wait on a FIFO someone put there.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st{};
    char text[kMaxLockFileBytes] = {};
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        do
            n = ::read(fd, text, sizeof text - 1);
        while (n < 0 && errno == EINTR);
    }
    ::close(fd);
    if (n <= 0)
        return 0;
    const char* p = text;
    const char* end = text + n;
    while (p < end && *p == ' ')
        ++p;
    long pid = 0;
    const auto [stop, ec] = std::from_chars(p, end, pid);
    return ec == std::errc() && stop != p ? pid : 0;
}

bool ProcessAlive(long pid)
{
    // EPERM: it exists, it is only another user's.
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

} // namespace

UucpLockFile::UucpLockFile(std::filesystem::path lockDir)
    : m_dir(lockDir.empty() ? SystemLockDir() : std::move(lockDir))
{
}

UucpLockFile::~UucpLockFile()
{
    Release();
}

std::filesystem::path UucpLockFile::PathFor(const std::string& device) const
{
    // Programs name the lock after the node the device is, not after a link
    // to it (/dev/serial/by-id/... is ttyUSB0 to minicom).
    std::error_code ec;
    std::filesystem::path node = std::filesystem::canonical(device, ec);
    if (ec)
        node = device;
    return m_dir / ("LCK.." + node.filename().string());
}

bool UucpLockFile::Acquire(const std::string& device, long& holderPid)
{
    holderPid = 0;
    Release();
    const std::string path = PathFor(device).string();
    const long self = static_cast<long>(::getpid());
    // Twice at most: once more after a stale lock was removed.
    for (int round = 0; round < 2; ++round) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            const int length = std::snprintf(text, sizeof text, "%10ld\n", self);
            ssize_t n = -1;
            do
                n = ::write(fd, text, static_cast<std::size_t>(length));
            while (n < 0 && errno == EINTR);
            ::close(fd);
            if (n != length) {
                ::unlink(path.c_str()); // a half-written lock would look stale to everyone
                return true;
            }
            m_taken = path;
            return true;
        }
        if (errno != EEXIST)
            return true; // no lock folder, or not ours to write in
        const long pid = ReadLockPid(path);
        if (pid == self) {
            m_taken = path; // left by this process; ours again
            return true;
        }
        if (ProcessAlive(pid)) {
            holderPid = pid;
            return false;
        }
        // Its process is gone (or it holds no pid at all): stale.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return true;
    }
    return true;
}

void UucpLockFile::Release()
{
    if (m_taken.empty())
        return;
    // Someone may have found it stale and taken it meanwhile: remove only
    // our own.
    if (ReadLockPid(m_taken) == static_cast<long>(::getpid()))
        ::unlink(m_taken.c_str());
    m_taken.clear();
}
