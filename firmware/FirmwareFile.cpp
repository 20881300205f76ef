#include "firmware/FirmwareFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace {

using Error = FirmwareFileResult::Error;

FirmwareFileResult Failed(Error error, int err, std::size_t size = 0)
{
    FirmwareFileResult result;
    result.error = error;
    result.sysErrno = err;
    result.size = size;
    return result;
}

Error ErrorForOpenErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return Error::NotFound;
    case EACCES:
    case EPERM:
        return Error::PermissionDenied;
    case EISDIR:
        return Error::IsDirectory;
    default:
        return Error::ReadFailed;
    }
}

// One read() that is retried when a signal cuts it short.
long ReadSome(int fd, std::uint8_t* data, std::size_t length)
{
    for (;;) {
        const auto n = ::read(fd, data, static_cast<unsigned>(length));
        if (n >= 0 || errno != EINTR)
            return static_cast<long>(n);
    }
}

} // namespace

std::string FirmwareFileResult::Describe() const
{
    switch (error) {
    case Error::None:
        return "ok";
    case Error::NotFound:
        return "no such file";
    case Error::PermissionDenied:
        return "permission denied";
    case Error::IsDirectory:
        return "is a directory";
    case Error::NotRegularFile:
        return "not a regular file (a pipe, a device or a socket cannot be sent)";
    case Error::ReadFailed:
        return sysErrno != 0 ? std::string("read error: ") + std::strerror(sysErrno) : "read error";
    case Error::TooLarge:
        return "larger than 131072 bytes";
    }
    return "unknown error";
}

FirmwareFileResult ReadFirmwareFile(const std::string& path, std::uint8_t* buffer,
                                    std::size_t capacity)
{
    // Non-blocking, so that opening a FIFO with no writer returns at once;
    // the type is then checked on the descriptor itself, not on the name,
    // which could be swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_BINARY);
    if (fd < 0) {
        const int err = errno;
        // The Windows C runtime refuses a folder with EACCES, not EISDIR;
        // a folder is named as such wherever it is refused.
        struct stat folder {};
        if (err == EACCES && ::stat(path.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode))
            return Failed(Error::IsDirectory, EISDIR);
        return Failed(ErrorForOpenErrno(err), err);
    }

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return Failed(Error::ReadFailed, err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Failed(Error::IsDirectory, EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Failed(Error::NotRegularFile, 0);
    }

    std::size_t size = 0;
    for (;;) {
        if (size == capacity) {
            // One byte more tells a file that is exactly full from one that
            // is too large; it is never stored.
            std::uint8_t extra = 0;
            const long n = ReadSome(fd, &extra, 1);
            const int err = errno;
            ::close(fd);
            if (n < 0)
                return Failed(Error::ReadFailed, err, size);
            return n > 0 ? Failed(Error::TooLarge, 0, size) : FirmwareFileResult{Error::None, 0, size};
        }
        const long n = ReadSome(fd, buffer + size, capacity - size);
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return Failed(Error::ReadFailed, err, size);
        }
        if (n == 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    FirmwareFileResult result;
    result.size = size;
    return result;
}
