#include "cli/RunIdentity.h"

#include <windows.h>

namespace RunIdentity {

std::string UserName()
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetUserNameA(name, &size))
        return {};
    return name;
}

std::string HostName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size))
        return {};
    return name;
}

} // namespace RunIdentity
