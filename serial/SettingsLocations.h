#pragma once

#include <string>

// Where this platform keeps the system's and the user's port settings file.
// One file per platform (PosixSettingsLocations.cpp,
// Win32SettingsLocations.cpp), chosen by CMake; PortSettings lets the
// environment name other files.
class SettingsLocations {
public:
    // Linux: /etc/kvm-upgrade.conf (KVM_SYSTEM_SETTINGS_FILE at configure
    // time). Windows: %ProgramData%\kvm-upgrade\kvm-upgrade.conf.
    static std::string SystemFile();
    // Linux: $XDG_CONFIG_HOME/kvm-upgrade/kvm-upgrade.conf, by default under
    // ~/.config. Windows: %APPDATA%\kvm-upgrade\kvm-upgrade.conf. Empty when
    // there is no such folder to name.
    static std::string UserFile();
    // The two, as --help names them.
    static std::string Described();
};
