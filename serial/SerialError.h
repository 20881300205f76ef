#pragma once

#include <string>

// Why a port failed to open, or why the last read or write on an open port
// failed. The operations only see CSerialPort's 1/0 results; this detail is
// kept for front ends that can explain a failure (the command line's
// --verbose). A read that ends with no byte is no failure: a silent switch
// leaves the reason None.
struct SerialError {
    enum class Kind {
        None,
        UnknownName,      // not COM1..COM12, or a COM name with no device mapped
        NoSuchDevice,     // ENOENT, ENODEV, ENXIO
        PermissionDenied, // EACCES, EPERM
        Busy,             // EBUSY, or another opener holds the lock
        NotATerminal,     // ENOTTY: the device is no serial line
        SettingsRefused,  // the line settings or time-outs could not be applied
        AlreadyOpen,      // Open while this object holds a port
        Other,
        // On an open port.
        HungUp,           // the device went away: unplugged, pseudo-terminal closed
        WriteStalled,     // the line took no byte of output for the stall limit
        ReadFailed,       // a read (or the wait for one) failed, sysErrno says how
        WriteFailed,      // a write failed, sysErrno says how
    };

    Kind kind = Kind::None;
    int sysErrno = 0;     // errno (GetLastError() on Windows) where it failed, 0 when none
    std::string portName; // as the user named it, e.g. "COM3"
    std::string device;   // the device it resolved to, empty when none

    // One line for a person, e.g.
    // "COM3 (/dev/ttyUSB0): permission denied (is the user in group dialout?)".
    std::string Describe() const;
};
