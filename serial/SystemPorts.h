#pragma once

#include <string>

class PortTable;

// What the operating system says about its serial ports. One file per
// platform (PosixSystemPorts.cpp, Win32SystemPorts.cpp), chosen by CMake.
class SystemPorts {
public:
    // The table in use when no --map replaces it. On Linux: the serial lines
    // found under /dev, COM1 the first. On Windows: COMn is the system's own
    // \\.\COMn, present or not; a port that is absent fails to open.
    static PortTable DefaultTable();

    // What --list-ports prints for the table in use: each entry's first
    // line is "COMn  DEVICE", its next where the entry came from. On Linux
    // the table, each device with the hardware sysfs knows behind it
    // (driver, USB ids and strings) and the /dev/serial/by-id name that
    // survives re-plugging, then the serial devices no COMn reaches (the
    // kernel console marked); on Windows the ports that are present, each
    // with the name that reaches it, or the --map that would.
    static std::string Listing(const PortTable& inUse);

    // The kernel console's name ("ttyS0") when device, links followed, is
    // an active kernel console: nothing sent there reaches a switch. Empty
    // otherwise, and always on Windows.
    static std::string KernelConsoleOf(const std::string& device);
};
