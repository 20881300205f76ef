#include "serial/SystemPorts.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "serial/PortTable.h"

namespace {

const char kDevicePrefix[] = "\\\\.\\";

// The ports present now: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
// which every serial driver (built-in UARTs, USB adapters) fills in.
std::vector<std::string> PresentPorts()
{
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE value[256];
        DWORD valueLength = sizeof value - 1;
        DWORD type = 0;
        const LONG result = ::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, value,
                                            &valueLength);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        value[valueLength] = 0;
        std::string port(reinterpret_cast<const char*>(value));
        port.erase(std::find(port.begin(), port.end(), '\0'), port.end());
        if (!port.empty())
            ports.push_back(port);
    }
    ::RegCloseKey(key);
    return ports;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// COM2 before COM10.
bool NaturalLess(const std::string& a, const std::string& b)
{
    const auto number = [](const std::string& name) {
        std::size_t i = name.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1])))
            --i;
        return std::make_pair(name.substr(0, i), i < name.size() ? std::stol(name.substr(i)) : -1L);
    };
    return number(a) < number(b);
}

} // namespace

PortTable SystemPorts::DefaultTable()
{
    PortTable table;
    for (int number = 1; number <= PortTable::kMaxPort; ++number) {
        const std::string name = "COM" + std::to_string(number);
        // The \\.\ form opens COM10 and above too.
        table.Map(name, kDevicePrefix + name);
    }
    return table;
}

std::string SystemPorts::Listing(const PortTable& inUse)
{
    std::vector<std::string> present = PresentPorts();
    std::sort(present.begin(), present.end(), NaturalLess);
    std::string text;
    for (const std::string& port : present) {
        const std::string device = kDevicePrefix + port;
        std::string reachedAs;
        for (const auto& [name, mapped] : inUse.Entries()) {
            if (Upper(mapped) == Upper(device) || Upper(mapped) == Upper(port)) {
                reachedAs = name;
                break;
            }
        }
        if (!reachedAs.empty())
            text += reachedAs + "  " + device + "\n";
        else
            text += "-     " + device + "  (not reachable as COM1 to COM12: --map COMn=" + device + ")\n";
    }
    if (present.empty())
        text += "(no serial ports present)\n";
    return text;
}
