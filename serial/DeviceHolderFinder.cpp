#include "serial/DeviceHolderFinder.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The pid a /proc entry's name stands for, 0 for every other entry.
long PidOf(const char* name)
{
    long pid = 0;
    const char* end = name + std::char_traits<char>::length(name);
    const auto [stop, ec] = std::from_chars(name, end, pid);
    return ec == std::errc() && stop == end && pid > 0 ? pid : 0;
}

std::string LinkTarget(const std::string& link)
{
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target ? std::string(target, static_cast<std::size_t>(n))
                                                                : std::string();
}

class Directory {
public:
    explicit Directory(const std::string& path) : m_dir(::opendir(path.c_str())) {}
    ~Directory()
    {
        if (m_dir != nullptr)
            ::closedir(m_dir);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // The next entry's name, nullptr at the end (or when it could not be opened).
    const char* Next()
    {
        if (m_dir == nullptr)
            return nullptr;
        const dirent* entry = ::readdir(m_dir);
        return entry != nullptr ? entry->d_name : nullptr;
    }

private:
    DIR* m_dir;
};

} // namespace

DeviceHolderFinder::DeviceHolderFinder(std::filesystem::path procDir)
    : m_procDir(std::move(procDir))
{
}

std::optional<DeviceHolderFinder::Holder> DeviceHolderFinder::Find(const std::string& device,
                                                                   long exclude) const
{
    struct stat wanted{};
    if (::stat(device.c_str(), &wanted) != 0 || !S_ISCHR(wanted.st_mode))
        return std::nullopt;

    std::vector<long> holders;
    int processes = 0;
    int descriptors = 0;
    Directory proc(m_procDir.string());
    for (const char* name; (name = proc.Next()) != nullptr && processes < kMaxProcesses;) {
        const long pid = PidOf(name);
        if (pid == 0 || pid == exclude)
            continue;
        ++processes;
        const std::string fdDir = (m_procDir / name / "fd").string();
        Directory fds(fdDir); // another user's: cannot be opened, passed over
        for (const char* fd; (fd = fds.Next()) != nullptr && descriptors < kMaxDescriptors;) {
            if (fd[0] == '.')
                continue;
            ++descriptors;
            const std::string link = fdDir + "/" + fd;
            // Only what names a device node is looked at: stat() on a file
            // of a network or FUSE mount could wait on its server. Devices
            // show there by their node's path, whichever name opened them.
            if (LinkTarget(link).rfind("/dev/", 0) != 0)
                continue;
            struct stat held{};
            if (::stat(link.c_str(), &held) == 0 && S_ISCHR(held.st_mode) && held.st_rdev == wanted.st_rdev) {
                holders.push_back(pid);
                break;
            }
        }
    }
    if (holders.empty())
        return std::nullopt;

    std::sort(holders.begin(), holders.end());
    long chosen = holders.front();
    const long locker = holders.size() > 1 ? LockHolder(device) : 0;
    if (std::find(holders.begin(), holders.end(), locker) != holders.end())
        chosen = locker;
    return Holder{chosen, CommandName((m_procDir / std::to_string(chosen)).string())};
}

long DeviceHolderFinder::LockHolder(const std::string& device) const
{
    // A flock is kept on the inode of the node that was opened; /proc/locks
    // gives its file system's device as hex major:minor, then the inode.
    struct stat node{};
    if (::stat(device.c_str(), &node) != 0)
        return 0;
    std::ifstream locks(m_procDir / "locks");
    int lines = 0;
    for (std::string line; std::getline(locks, line) && lines < kMaxLocks; ++lines) {
        std::istringstream fields(line);
        std::string id, type, mode, access, where;
        long pid = 0;
        // "1: FLOCK  ADVISORY  WRITE 812 00:1a:3 0 EOF"; a waiter's line
        // has "->" after the id and holds nothing.
        if (!(fields >> id >> type >> mode >> access >> pid >> where) || type != "FLOCK")
            continue;
        unsigned int major = 0, minor = 0;
        unsigned long long inode = 0;
        char rest = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu%c", &major, &minor, &inode, &rest) != 3)
            continue;
        if (major == ::major(node.st_dev) && minor == ::minor(node.st_dev) && inode == node.st_ino)
            return pid;
    }
    return 0;
}

std::string DeviceHolderFinder::CommandNameOf(long pid) const
{
    return pid > 0 ? CommandName((m_procDir / std::to_string(pid)).string()) : std::string();
}

std::string DeviceHolderFinder::CommandName(const std::string& pidDir) const
{
    // A process may call itself anything, line ends included.
    std::ifstream comm(pidDir + "/comm");
    char buffer[64] = {};
    comm.read(buffer, sizeof buffer - 1);
    std::string name(buffer, static_cast<std::size_t>(comm.gcount()));
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return name;
}
