#pragma once

#include <string>
#include <vector>

#include "serial/PortTable.h"

// The port table and the port to use, as the user keeps them, for every
// program that takes --map. The sources, lowest precedence first:
//
//   the system's settings file   SettingsLocations::SystemFile(), or the file
//                                KVM_UPGRADE_SYSTEM_CONFIG names (empty: none)
//   the user's settings file     SettingsLocations::UserFile(), or the file
//                                KVM_UPGRADE_USER_CONFIG names (empty: none)
//   the environment              KVM_UPGRADE_MAP ("COM1=DEVICE;COM2=DEVICE")
//                                and KVM_UPGRADE_PORT
//   the command line             its --map entries and its port
//
// Each COMn takes the device of the highest source that maps it; as with
// --map alone, any map anywhere replaces the detected table entirely, since
// a mix of kept and detected names would shift whenever an adapter is
// plugged in. One reading for both front ends, so that the two programs can
// never come to disagree on what a file says.
class PortSettings {
public:
    // Between the entries of KVM_UPGRADE_MAP. No port name holds it, and no
    // device name Linux or Windows gives a serial line does.
    static constexpr char kMapSeparator = ';';

    // Reads every source, the command line's maps ("COMn=DEVICE") and port
    // ("" when it named none) last. False, with error saying which file
    // and line or which variable or option, at the first bad entry; the
    // settings are then those of a default-constructed object.
    bool Load(const std::vector<std::string>& commandLineMaps, const std::string& commandLinePort,
              std::string& error);

    // The table in use: what the sources map, or the detected ports.
    const PortTable& Table() const { return m_table; }
    // AUTO, or the COMn of the highest source that names one.
    const std::string& Port() const { return m_port; }

    // What --list-ports prints: the system's listing of the table (each
    // entry with its source), then "port COMn (from ...)" when a source
    // named the port.
    std::string Listing() const;

    // The settings files Load reads (those the environment names instead of
    // the platform's, when it does), system's first; none is empty. No
    // program may write into them.
    static std::vector<std::string> Files();

    // The paragraph of --help that says all this, the same in every program.
    static std::string HelpText();

private:
    bool ReadFile(const std::string& path, std::string& error);
    bool TakeMap(const std::string& mapping, const std::string& where, const std::string& source,
                 std::string& error);
    bool TakePort(const std::string& port, const std::string& where, const std::string& source,
                  std::string& error);

    PortTable m_mapped;
    bool m_anyMap = false;
    PortTable m_table;
    std::string m_port = "AUTO";
    std::string m_portSource; // empty while no source named the port
};
