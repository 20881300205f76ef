// Preloaded into kvm-upgrade-cli by a test: the disk under its --log file
// stalls, as a hung network mount does, from the moment the transcript's
// last line ("exit") is written. That write says so on the FIFO named by
// KVM_STALL_NOTIFY and then waits on the FIFO named by KVM_STALL_RELEASE
// until the test writes to it or closes it. With KVM_DISK_FULL set, the disk
// is full instead: every write fails with ENOSPC.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" std::size_t fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* stream)
{
    using Fwrite = std::size_t (*)(const void*, std::size_t, std::size_t, std::FILE*);
    static const auto real = reinterpret_cast<Fwrite>(::dlsym(RTLD_NEXT, "fwrite"));
    static std::atomic<bool> stalled{false};
    if (std::getenv("KVM_DISK_FULL") != nullptr) {
        errno = ENOSPC;
        return 0;
    }
    const std::string_view text(static_cast<const char*>(data), size * count);
    const char* notify = std::getenv("KVM_STALL_NOTIFY");
    const char* release = std::getenv("KVM_STALL_RELEASE");
    if (notify != nullptr && release != nullptr && text.find(" exit ") != std::string_view::npos &&
        !stalled.exchange(true)) {
        const int notifyFd = ::open(notify, O_WRONLY | O_CLOEXEC);
        const int releaseFd = ::open(release, O_RDONLY | O_CLOEXEC);
        if (notifyFd >= 0 && ::write(notifyFd, "s", 1) == 1) {
            char byte = 0;
            while (::read(releaseFd, &byte, 1) < 0) {
            }
        }
        ::close(notifyFd);
        ::close(releaseFd);
    }
    return real(data, size, count, stream);
}
