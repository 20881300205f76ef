#pragma once

#include <string>

#include "serial/TtyScanner.h"

class PortTable;

// What --list-ports prints on Linux: each COMn of the table in use with its
// device, where the entry came from and, where the system knows them, the
// hardware behind it and the --map that keeps it COMn after re-plugging;
// then the serial devices the system has that no COMn reaches, the kernel
// console among them, marked. Every entry's first line starts with
// COMn (or "-" for a device no COMn reaches) and the device; control bytes
// from a --map or from sysfs are shown as \xNN, so no text breaks a line.
class TtyListing {
public:
    explicit TtyListing(TtyScanner scanner = TtyScanner());

    std::string Text(const PortTable& inUse) const;

private:
    std::string Details(const std::string& portName, const std::string& device) const;

    TtyScanner m_scanner;
};
