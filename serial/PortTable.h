#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Maps the port names the user sees ("COM1" to "COM12") to devices. No other
// name resolves, and device paths appear nowhere else in the program.
class PortTable {
public:
    static constexpr int kMaxPort = 12;

    // The table of this system's serial ports (SystemPorts::DefaultTable):
    // on Linux /dev/ttyS* with a UART, /dev/ttyUSB*, /dev/ttyACM*, COM1 the
    // first; on Windows COMn is \\.\COMn. Each entry's source is "detected".
    static PortTable Detect();

    // True for exactly "COM1" .. "COM12" (case-sensitive, no leading zero).
    static bool IsPortName(const std::string& name);

    // Parses one --map argument "COMn=DEVICE" into the table. Returns false
    // (and says why in error) for a bad name or an empty device.
    bool AddMapping(const std::string& option, std::string& error);
    // The same for a "COMn=DEVICE" kept elsewhere (a settings file, the
    // environment): reason is only why it is bad, for the caller to say
    // where it was. source is what --list-ports says of the entry.
    bool AddMapping(const std::string& mapping, const std::string& source, std::string& reason);
    void Map(const std::string& portName, const std::string& device, const std::string& source = {});

    std::optional<std::string> Resolve(const std::string& portName) const;
    // Where the entry came from ("detected", "from the command line", "from
    // /etc/kvm-upgrade.conf, line 3"); empty when nobody said.
    std::string Source(const std::string& portName) const;

    // (name, device) in COM order, only the names that have a device.
    std::vector<std::pair<std::string, std::string>> Entries() const;

    // The table --list-ports prints: one "COMn  DEVICE" line per entry.
    std::string Listing() const;

    // The process-wide table. Front ends fill it from --map (which replaces
    // the detected table entirely) before any port is opened.
    static PortTable& Process();

private:
    std::string m_devices[kMaxPort]; // index 0 is COM1; empty = no device
    std::string m_sources[kMaxPort];
};
