#include "serial/SystemPorts.h"

#include <cstddef>
#include <vector>

#include "serial/PortTable.h"
#include "serial/TtyListing.h"
#include "serial/TtyScanner.h"

PortTable SystemPorts::DefaultTable()
{
    PortTable table;
    const std::vector<std::string> devices = TtyScanner().Scan();
    for (std::size_t i = 0; i < devices.size() && i < static_cast<std::size_t>(PortTable::kMaxPort); ++i)
        table.Map("COM" + std::to_string(i + 1), devices[i]);
    return table;
}

std::string SystemPorts::Listing(const PortTable& inUse)
{
    return TtyListing().Text(inUse);
}

std::string SystemPorts::KernelConsoleOf(const std::string& device)
{
    return TtyScanner().ConsoleOf(device);
}
