#include "cli/RunIdentity.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace RunIdentity {

// The account the process runs as, not what $USER claims (sudo, su and
// cron keep or set it as they please).
std::string UserName()
{
    const uid_t uid = ::geteuid();
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error == 0 && found != nullptr && found->pw_name != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

} // namespace RunIdentity
