#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "serial/TtyHardware.h"

// Finds the serial lines this system has: /dev/ttyS* ports that have a UART
// behind them, then /dev/ttyUSB*, then /dev/ttyACM*, each group in the
// natural order of its numbers (ttyS2 before ttyS10), less the kernel's
// console (sysfs console/active); and what sysfs and udev's links say of
// one device. Nothing is opened: directory entries, links and sysfs
// attributes are read only, so nothing here disturbs a port in use or
// waits on one. Both roots can be replaced, for a /dev and a /sys of a
// test's own.
class TtyScanner {
public:
    TtyScanner(std::filesystem::path devDir = "/dev",
               std::filesystem::path sysClassTty = "/sys/class/tty");

    // Full device paths, in COM order.
    std::vector<std::string> Scan() const;
    // The same with the kernel's console in its place, for --list-ports.
    std::vector<std::string> SerialLines() const;

    // The kernel console's name ("ttyS0") when device, links followed, is
    // an active kernel console; empty otherwise.
    std::string ConsoleOf(const std::string& device) const;

    // The hardware behind device (a node, or a link to one): its driver,
    // the USB device it belongs to, the by-id link that names it whatever
    // number it gets. Only a node in the scanned /dev is looked up in sysfs.
    TtyHardware Hardware(const std::string& device) const;

    // True when a and b are the same device: one node reached by two names,
    // or two nodes of one device number.
    static bool SameDevice(const std::string& a, const std::string& b);

private:
    bool HasUart(const std::string& name) const;
    std::vector<std::string> ConsoleNames() const;
    void ReadSysfs(const std::string& name, TtyHardware& hardware) const;
    void FindById(const std::string& device, TtyHardware& hardware) const;

    std::filesystem::path m_devDir;
    std::filesystem::path m_sysClassTty;
};
