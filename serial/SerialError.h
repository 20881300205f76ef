#pragma once

#include <string>

// Why a port failed to open, or why the last read or write on an open port
// failed. The operations only see CSerialPort's 1/0 results; this detail is
// kept for front ends that can explain a failure (the command line). A read
// that ends with no byte is no failure: a silent switch leaves the reason None.
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

    // Busy: the process found holding the device, looked up at the failure
    // because by the time anyone reads this it may have let go. Empty and 0
    // when none could be seen (another user's processes are hidden from
    // non-root).
    std::string holderName; // its command name, control bytes shown as '?'
    long holderPid = 0;

    // PermissionDenied: the group that may open the device, when joining it
    // would help (it grants read and write, and it is not root's). Whether
    // the user belongs to it in the group database, and whether this
    // process has it: a user added to the group keeps being refused until a
    // new login picks the membership up.
    std::string deviceGroup;
    bool inGroupDatabase = false;
    bool inGroupProcess = false;
    // PermissionDenied on a device no group may open (mode 600): its owner,
    // the one user it is open to. Joining a group would not help.
    std::string deviceOwner;

    // One line for a person, without a line end, e.g. "COM3 (/dev/ttyUSB0):
    // device busy (held by minicom, pid 812)".
    std::string Describe() const;
};
