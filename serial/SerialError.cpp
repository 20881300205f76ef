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
        return who + ": no such device";
    case Kind::PermissionDenied:
        return who + ": permission denied (is the user in group dialout?)";
    case Kind::Busy:
        return who + ": device busy (held by another program)";
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
