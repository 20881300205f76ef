#include "serial/SettingsLocations.h"

#include <cstdlib>

#ifndef KVM_SYSTEM_SETTINGS_FILE
#error "KVM_SYSTEM_SETTINGS_FILE must name the system's settings file"
#endif

namespace {

// The XDG rule: a variable that is unset, empty or relative is ignored.
bool IsAbsolute(const char* path)
{
    return path != nullptr && path[0] == '/';
}

} // namespace

std::string SettingsLocations::SystemFile()
{
    return KVM_SYSTEM_SETTINGS_FILE;
}

std::string SettingsLocations::UserFile()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); IsAbsolute(config))
        return std::string(config) + "/kvm-upgrade/kvm-upgrade.conf";
    if (const char* home = std::getenv("HOME"); IsAbsolute(home))
        return std::string(home) + "/.config/kvm-upgrade/kvm-upgrade.conf";
    return std::string();
}

std::string SettingsLocations::Described()
{
    return std::string("Files: the system's ") + KVM_SYSTEM_SETTINGS_FILE + ", then the user's\n"
        + "~/.config/kvm-upgrade/kvm-upgrade.conf ($XDG_CONFIG_HOME/kvm-upgrade/ when\n"
          "XDG_CONFIG_HOME is set).\n";
}
