#include "serial/StandardStreams.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

void ReopenClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free descriptor, which is this one: the
        // lower ones are open by now.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd)
            ::close(null);
    }
}
