#include "serial/SerialError.h"

#include <system_error>

#include "serial/PortTable.h"

namespace {

// sysErrno is the system's own code: errno on POSIX, GetLastError() on
// Windows; system_category speaks both (strerror, FormatMessage).
std::string WithErrno(const std::string& text, int err)
{
    return err != 0 ? text + " (" + std::system_category().message(err) + ")" : text;
}

// Programs known to take serial adapters as soon as they appear, and what
// the user can do about each.
struct KnownHolder {
    const char* name;
    const char* advice;
};
constexpr KnownHolder kKnownHolders[] = {
    {"brltty", "brltty takes USB serial adapters for braille displays; "
               "remove it with 'sudo apt remove brltty' if none is used"},
    {"ModemManager", "ModemManager probes new modems for a few seconds after plug-in; "
                     "wait, or 'sudo systemctl stop ModemManager'"},
};

std::string BusyText(const SerialError& error)
{
    if (error.holderPid == 0)
        return "device busy (held by another program)";
    const std::string pid = "pid " + std::to_string(error.holderPid);
    if (error.holderName.empty())
        return "device busy (held by " + pid + ")";
    const std::string text = "device busy (held by " + error.holderName + ", " + pid + ")";
    for (const KnownHolder& known : kKnownHolders) {
        if (error.holderName == known.name)
            return text + "; " + known.advice;
    }
    return text;
}

std::string PermissionText(const SerialError& error)
{
    const std::string& group = error.deviceGroup;
    if (group.empty() && !error.deviceOwner.empty())
        return "permission denied: the device is open to its owner " + error.deviceOwner
            + " only, to no group; use it as " + error.deviceOwner
            + ", or have it given to group dialout with mode 660 (a udev rule)";
    if (group.empty())
        return "permission denied (is the user in group dialout?)";
    if (error.inGroupProcess)
        return "permission denied, although this process has the device's group " + group;
    if (error.inGroupDatabase)
        return "permission denied: you are in group " + group
            + ", but this session started before you were added: log in again";
    return "permission denied: the device belongs to group " + group + "; add yourself with 'sudo usermod -aG "
        + group + " $USER', then log in again";
}

} // namespace

std::string SerialError::Describe() const
{
    std::string who = portName.empty() ? std::string("\"\"") : portName;
    if (!device.empty())
        who += " (" + device + ")";

    switch (kind) {
    case Kind::None:
        return who + ": no error";
    case Kind::UnknownName:
        if (!PortTable::IsPortName(portName))
            return who + ": no such port (COM1 to COM12)";
        return who + ": no device mapped (see --list-ports, --map " + portName + "=DEVICE)";
    case Kind::NoSuchDevice:
        return who + ": no such device (unplugged, or another name since it was plugged in again: see --list-ports)";
    case Kind::PermissionDenied:
        return who + ": " + PermissionText(*this);
    case Kind::Busy:
        return who + ": " + BusyText(*this);
    case Kind::NotATerminal:
        return who + ": not a serial line";
    case Kind::SettingsRefused:
        return WithErrno(who + ": line settings refused", sysErrno);
    case Kind::AlreadyOpen:
        return who + ": a port is already open";
    case Kind::HungUp:
        return who + ": the line hung up (device unplugged?)";
    case Kind::WriteStalled:
        return who + ": the line stopped taking output (write stalled)";
    case Kind::ReadFailed:
        return WithErrno(who + ": read error", sysErrno);
    case Kind::WriteFailed:
        return WithErrno(who + ": write error", sysErrno);
    case Kind::Other:
        break;
    }
    return WithErrno(who + ": cannot open", sysErrno);
}
