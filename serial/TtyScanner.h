#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Finds the serial lines this system has: /dev/ttyS* ports that have a UART
// behind them, then /dev/ttyUSB*, then /dev/ttyACM*, each group in the
// natural order of its numbers (ttyS2 before ttyS10), less the kernel's
// console (sysfs console/active). Nothing is opened:
// the scan reads directory entries and sysfs attributes only, so it neither
// disturbs a port in use nor waits on one.
class TtyScanner {
public:
    TtyScanner(std::filesystem::path devDir = "/dev",
               std::filesystem::path sysClassTty = "/sys/class/tty");

    // Full device paths, in COM order.
    std::vector<std::string> Scan() const;

private:
    bool HasUart(const std::string& name) const;
    std::vector<std::string> ConsoleNames() const;

    std::filesystem::path m_devDir;
    std::filesystem::path m_sysClassTty;
};
