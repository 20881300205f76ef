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
    PortTable table = SystemPorts::DefaultTable();
    for (const auto& [name, device] : table.Entries())
        table.Map(name, device, "detected");
    return table;
}

bool PortTable::IsPortName(const std::string& name)
{
    return PortNumber(name) != 0;
}

bool PortTable::AddMapping(const std::string& option, std::string& error)
{
    if (AddMapping(option, std::string(), error))
        return true;
    error = "--map " + option + ": " + error;
    return false;
}

bool PortTable::AddMapping(const std::string& mapping, const std::string& source, std::string& reason)
{
    const std::size_t eq = mapping.find('=');
    if (eq == std::string::npos) {
        reason = "expected COMn=DEVICE";
        return false;
    }
    const std::string name = mapping.substr(0, eq);
    const std::string device = mapping.substr(eq + 1);
    if (!IsPortName(name)) {
        reason = "\"" + name + "\" is no port name (COM1 to COM12)";
        return false;
    }
    if (device.empty()) {
        reason = "no device given";
        return false;
    }
    Map(name, device, source);
    reason.clear();
    return true;
}

void PortTable::Map(const std::string& portName, const std::string& device, const std::string& source)
{
    const int number = PortNumber(portName);
    if (number != 0) {
        m_devices[number - 1] = device;
        m_sources[number - 1] = source;
    }
}

std::optional<std::string> PortTable::Resolve(const std::string& portName) const
{
    const int number = PortNumber(portName);
    if (number == 0 || m_devices[number - 1].empty())
        return std::nullopt;
    return m_devices[number - 1];
}

std::string PortTable::Source(const std::string& portName) const
{
    const int number = PortNumber(portName);
    return number == 0 ? std::string() : m_sources[number - 1];
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
