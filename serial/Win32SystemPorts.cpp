#include "serial/SystemPorts.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <tuple>
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

// COM2 before COM10; a number of any length, compared as digits.
bool NaturalLess(const std::string& a, const std::string& b)
{
    const auto split = [](const std::string& name) {
        std::size_t i = name.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1])))
            --i;
        std::string digits = name.substr(i);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        return std::make_tuple(Upper(name.substr(0, i)), digits.size(), digits);
    };
    return split(a) < split(b);
}

// "COM27" for \\.\COM27 or COM27, empty for a device of another kind.
std::string PortOf(const std::string& device)
{
    std::string port = Upper(device);
    if (port.rfind(kDevicePrefix, 0) == 0)
        port.erase(0, sizeof kDevicePrefix - 1);
    const bool isCom = port.size() > 3 && port.compare(0, 3, "COM") == 0
        && std::all_of(port.begin() + 3, port.end(), [](char c) { return c >= '0' && c <= '9'; });
    return isCom ? port : std::string();
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
    for (std::string& port : present)
        port = Upper(port);
    std::sort(present.begin(), present.end(), NaturalLess);
    const auto isPresent = [&present](const std::string& port) {
        return std::find(present.begin(), present.end(), port) != present.end();
    };

    std::string text;
    std::vector<std::string> reached;
    for (const auto& [name, device] : inUse.Entries()) {
        const std::string port = PortOf(device);
        const std::string source = inUse.Source(name);
        const std::string sourceLine = source.empty() ? std::string() : "      " + source + "\n";
        if (!port.empty() && isPresent(port)) {
            text += name + "  " + device + "\n" + sourceLine;
            reached.push_back(port);
        } else if (Upper(device) != kDevicePrefix + name) {
            // Mapped: shown even when the system does not list it.
            text += name + "  " + device + "  (not among the system's serial ports)\n" + sourceLine;
        }
    }
    for (const std::string& port : present) {
        if (std::find(reached.begin(), reached.end(), port) == reached.end())
            text += "-     " + std::string(kDevicePrefix) + port + "  (not reachable as COM1 to COM12: --map COMn="
                + kDevicePrefix + port + ")\n";
    }
    if (text.empty())
        text = "(no serial ports present)\n";
    return text;
}

std::string SystemPorts::KernelConsoleOf(const std::string&)
{
    // Windows writes no kernel messages to a serial port.
    return std::string();
}
