#pragma once

#include <string>

// Why a port failed to open. The operations only see CSerialPort's 1/0 results;
// this detail is kept for front ends that can explain a failure (the command
// line's --verbose).
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
    };

    Kind kind = Kind::None;
    int sysErrno = 0;     // errno where the failure happened, 0 when none
    std::string portName; // as the user named it, e.g. "COM3"
    std::string device;   // the device it resolved to, empty when none

    // One line for a person, e.g.
    // "COM3 (/dev/ttyUSB0): permission denied (is the user in group dialout?)".
    std::string Describe() const;
};
