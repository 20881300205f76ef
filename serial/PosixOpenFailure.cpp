#include "serial/PosixOpenFailure.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/DeviceHolderFinder.h"

namespace {

using Kind = SerialError::Kind;

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

std::string UserName(uid_t uid)
{
    std::vector<char> buffer(4096);
    for (int round = 0; round < 8; ++round, buffer.resize(buffer.size() * 4)) {
        passwd entry{};
        passwd* found = nullptr;
        const int err = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE)
            continue;
        return err == 0 && found != nullptr ? std::string(found->pw_name) : std::to_string(uid);
    }
    return std::to_string(uid);
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
    if (!groupMayUse) {
        error.deviceOwner = UserName(node.st_uid);
        return;
    }
    if (node.st_gid == 0)
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


} // namespace

namespace PosixOpenFailure {

Kind KindForErrno(int err)
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

void Explain(SerialError& error, const std::string& device, Kind kind, int err)
{
    error.kind = kind;
    error.sysErrno = err;
    if (kind == Kind::Busy)
        NameHolder(device, error);
    else if (kind == Kind::PermissionDenied)
        ExplainPermission(device, error);
}

void NameHolderPid(SerialError& error, long holderPid)
{
    error.kind = Kind::Busy;
    error.sysErrno = EBUSY;
    error.holderPid = holderPid;
    error.holderName = DeviceHolderFinder().CommandNameOf(holderPid);
}

} // namespace PosixOpenFailure
