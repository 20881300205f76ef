#include "tools/WriteWholeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bool ok = done == data.size();
    return ::close(fd) == 0 && ok;
}
