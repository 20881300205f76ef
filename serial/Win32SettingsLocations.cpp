#include "serial/SettingsLocations.h"

#include <cstdlib>

namespace {

std::string UnderFolder(const char* variable)
{
    const char* folder = std::getenv(variable);
    if (folder == nullptr || folder[0] == '\0')
        return std::string();
    return std::string(folder) + "\\kvm-upgrade\\kvm-upgrade.conf";
}

} // namespace

std::string SettingsLocations::SystemFile()
{
    return UnderFolder("ProgramData");
}

std::string SettingsLocations::UserFile()
{
    return UnderFolder("APPDATA");
}

std::string SettingsLocations::Described()
{
    return "Files: the system's %ProgramData%\\kvm-upgrade\\kvm-upgrade.conf, then the\n"
           "user's %APPDATA%\\kvm-upgrade\\kvm-upgrade.conf.\n";
}
