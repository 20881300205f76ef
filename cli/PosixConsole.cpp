#include "cli/Console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace Console {

void PrepareProcess()
{
    // A reader that has gone (| head -1) must not end an upgrade half-way;
    // the writes that fail are dropped by the output queue.
    std::signal(SIGPIPE, SIG_IGN);
    // A job in the background on a terminal with tostop would be stopped,
    // worker and all, by its next line of output, and the switch left half
    // written until someone brings it back: the line is written instead.
    std::signal(SIGTTOU, SIG_IGN);
}

bool IsTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

bool SameDestination(int a, int b)
{
    struct stat first {};
    struct stat second {};
    if (::fstat(a, &first) != 0 || ::fstat(b, &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int Columns(int fd)
{
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

void WriteAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Someone else made the shared descriptor non-blocking: wait for
            // room as a blocking write would.
            pollfd poller{fd, POLLOUT, 0};
            if (::poll(&poller, 1, -1) >= 0 || errno == EINTR)
                continue;
        }
        // EPIPE, EIO, EBADF...: nobody will read this any more.
        return;
    }
}

} // namespace Console
