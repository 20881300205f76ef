#include "serial/TtyScanner.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

// Group order: the built-in UARTs first, then USB adapters, then CDC-ACM.
constexpr std::string_view kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

// The number after prefix when name is prefix followed by digits only.
bool NumberAfter(std::string_view name, std::string_view prefix, unsigned long& number)
{
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return false;
    const std::string_view digits = name.substr(prefix.size());
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return ec == std::errc() && end == digits.data() + digits.size();
}

} // namespace

TtyScanner::TtyScanner(std::filesystem::path devDir, std::filesystem::path sysClassTty)
    : m_devDir(std::move(devDir))
    , m_sysClassTty(std::move(sysClassTty))
{
}

bool TtyScanner::HasUart(const std::string& name) const
{
    // The 8250 driver registers ttyS0..ttyS31 whether or not a UART answers;
    // the placeholders have no device link, or report port type 0 (unknown).
    std::error_code ec;
    const std::filesystem::path sys = m_sysClassTty / name;
    if (!std::filesystem::exists(sys / "device", ec))
        return false;
    std::ifstream typeFile(sys / "type");
    int type = -1;
    if (typeFile >> type)
        return type != 0;
    return true; // no readable type: trust the device link
}

std::vector<std::string> TtyScanner::ConsoleNames() const
{
    // The kernel writes its messages (and maybe a login) there; firmware
    // frames sent into it would garble the console and reach no switch. A
    // --map naming it is still obeyed: that is the user's explicit choice.
    std::vector<std::string> names;
    std::ifstream active(m_sysClassTty / "console" / "active");
    for (std::string name; active >> name;)
        names.push_back(name);
    return names;
}

std::vector<std::string> TtyScanner::Scan() const
{
    const std::vector<std::string> console = ConsoleNames();
    struct Found {
        std::size_t group;
        unsigned long number;
        std::string name;
    };
    std::vector<Found> found;

    std::error_code ec;
    for (std::filesystem::directory_iterator it(m_devDir, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (std::find(console.begin(), console.end(), name) != console.end())
            continue;
        for (std::size_t group = 0; group < std::size(kPrefixes); ++group) {
            unsigned long number = 0;
            if (!NumberAfter(name, kPrefixes[group], number))
                continue;
            if (group == 0 && !HasUart(name))
                break;
            found.push_back({group, number, name});
            break;
        }
    }

    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::pair(a.group, a.number) < std::pair(b.group, b.number);
    });

    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (const Found& f : found)
        paths.push_back((m_devDir / f.name).string());
    return paths;
}
