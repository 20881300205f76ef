#include "serial/PortTable.h"

#include <cstddef>

#include "serial/SystemPorts.h"

namespace {

// 1..12 for "COM1".."COM12", 0 for anything else.
int PortNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0)
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        const char c = name[i];
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + (c - '0');
    }
    if (name[3] == '0' || number < 1 || number > PortTable::kMaxPort)
        return 0;
    return number;
}

} // namespace

PortTable PortTable::Detect()
{
    return SystemPorts::DefaultTable();
}

bool PortTable::IsPortName(const std::string& name)
{
    return PortNumber(name) != 0;
}

bool PortTable::AddMapping(const std::string& option, std::string& error)
{
    const std::size_t eq = option.find('=');
    if (eq == std::string::npos) {
        error = "--map " + option + ": expected COMn=DEVICE";
        return false;
    }
    const std::string name = option.substr(0, eq);
    const std::string device = option.substr(eq + 1);
    if (!IsPortName(name)) {
        error = "--map " + option + ": \"" + name + "\" is no port name (COM1 to COM12)";
        return false;
    }
    if (device.empty()) {
        error = "--map " + option + ": no device given";
        return false;
    }
    Map(name, device);
    error.clear();
    return true;
}

void PortTable::Map(const std::string& portName, const std::string& device)
{
    const int number = PortNumber(portName);
    if (number != 0)
        m_devices[number - 1] = device;
}

std::optional<std::string> PortTable::Resolve(const std::string& portName) const
{
    const int number = PortNumber(portName);
    if (number == 0 || m_devices[number - 1].empty())
        return std::nullopt;
    return m_devices[number - 1];
}

std::vector<std::pair<std::string, std::string>> PortTable::Entries() const
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < kMaxPort; ++i) {
        if (!m_devices[i].empty())
            entries.emplace_back("COM" + std::to_string(i + 1), m_devices[i]);
    }
    return entries;
}

std::string PortTable::Listing() const
{
    std::string text;
    for (const auto& [name, device] : Entries())
        text += name + "  " + device + "\n";
    return text;
}

PortTable& PortTable::Process()
{
    static PortTable table = Detect();
    return table;
}
