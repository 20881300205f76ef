#include <string>

#include <gtest/gtest.h>

#include "serial/SerialError.h"

namespace {

using Kind = SerialError::Kind;

SerialError Error(Kind kind, const std::string& port, const std::string& device = "")
{
    SerialError error;
    error.kind = kind;
    error.portName = port;
    error.device = device;
    return error;
}

SerialError Held(const std::string& name, long pid)
{
    SerialError error = Error(Kind::Busy, "COM3", "/dev/ttyUSB0");
    error.holderName = name;
    error.holderPid = pid;
    return error;
}

// {group, member in the group database, group in this process}
SerialError Denied(const std::string& group, bool inDatabase, bool inProcess)
{
    SerialError error = Error(Kind::PermissionDenied, "COM1", "/dev/ttyUSB0");
    error.sysErrno = 13;
    error.deviceGroup = group;
    error.inGroupDatabase = inDatabase;
    error.inGroupProcess = inProcess;
    return error;
}

SerialError Owned(const std::string& owner)
{
    SerialError error = Denied("", false, false);
    error.deviceOwner = owner;
    return error;
}

// The facts are given here as the backend records them at the failure;
// what finds them is tested against real devices and a /proc of the test's
// own (DeviceHolderFinderTest, SerialPortTest).
TEST(SerialError, Describe)
{
    const std::string busy = "COM3 (/dev/ttyUSB0): device busy ";
    const std::string denied = "COM1 (/dev/ttyUSB0): permission denied";
    const struct {
        SerialError error;
        std::string text;
    } cases[] = {
        {Error(Kind::NoSuchDevice, "COM2", "/dev/ttyUSB7"), "COM2 (/dev/ttyUSB7): no such device (unplugged, or another name since it was plugged in again: see --list-ports)"},
        {Error(Kind::UnknownName, "COM13"), "COM13: no such port (COM1 to COM12)"},
        {Error(Kind::UnknownName, "COM4"), "COM4: no device mapped (see --list-ports, --map COM4=DEVICE)"},

        // Busy: nobody seen, someone seen, and the programs known to take
        // adapters as they are plugged in.
        {Error(Kind::Busy, "COM1", "/dev/ttyS0"), "COM1 (/dev/ttyS0): device busy (held by another program)"},
        {Held("minicom", 4711), busy + "(held by minicom, pid 4711)"},
        {Held("brltty", 812), busy + "(held by brltty, pid 812); brltty takes USB serial adapters for braille "
                                     "displays; remove it with 'sudo apt remove brltty' if none is used"},
        {Held("ModemManager", 640), busy + "(held by ModemManager, pid 640); ModemManager probes new modems for "
                                           "a few seconds after plug-in; wait, or 'sudo systemctl stop ModemManager'"},
        {Held("brltty-x", 9), busy + "(held by brltty-x, pid 9)"},
        {Held("", 77), busy + "(held by pid 77)"},

        {Denied("", false, false), denied + " (is the user in group dialout?)"},
        {Owned("root"), denied + ": the device is open to its owner root only, to no group; use it as root, "
                                 "or have it given to group dialout with mode 660 (a udev rule)"},
        {Denied("dialout", false, false), denied + ": the device belongs to group dialout; add yourself with "
                                                   "'sudo usermod -aG dialout $USER', then log in again"},
        {Denied("dialout", true, false), denied + ": you are in group dialout, but this session started before "
                                                  "you were added: log in again"},
        {Denied("uucp", true, true), denied + ", although this process has the device's group uucp"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error.Describe(), c.text);
}

} // namespace
