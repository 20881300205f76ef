#include "ui/win32/ParentConsole.h"

#include <windows.h>

#include <cstdio>

namespace {

bool HasDestination(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

void ParentConsole::AttachIfUnset()
{
    const bool out = HasDestination(STD_OUTPUT_HANDLE);
    const bool err = HasDestination(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        (void)std::freopen("CONOUT$", "w", stdout);
    if (!err)
        (void)std::freopen("CONOUT$", "w", stderr);
}
