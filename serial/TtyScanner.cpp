#include "serial/TtyScanner.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#include <sys/stat.h>

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

// How far up from a tty's device sysfs is searched for its driver and its
// USB device: a ttyUSB sits two levels below the USB device (its
// usb-serial port, the interface), a serial-base port (kernels from 6.5)
// two below the UART's own device.
constexpr int kLevelsUp = 6;
// A /dev/serial/by-id holds one link per serial interface plugged in.
constexpr int kMaxByIdLinks = 1024;

// A sysfs attribute's text without its line end; at most a USB string
// descriptor's worth (126 UTF-16 units, as UTF-8).
std::string Attribute(const std::filesystem::path& file)
{
    std::ifstream in(file);
    char buffer[512] = {};
    in.read(buffer, sizeof buffer);
    std::string text(buffer, static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::string LinkName(const std::filesystem::path& link)
{
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
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
    std::vector<std::string> paths = SerialLines();
    const std::vector<std::string> console = ConsoleNames();
    std::erase_if(paths, [&console](const std::string& path) {
        const std::string name = std::filesystem::path(path).filename().string();
        return std::find(console.begin(), console.end(), name) != console.end();
    });
    return paths;
}

std::vector<std::string> TtyScanner::SerialLines() const
{
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

bool TtyScanner::SameDevice(const std::string& a, const std::string& b)
{
    struct stat sa{};
    struct stat sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode))
        return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string TtyScanner::ConsoleOf(const std::string& device) const
{
    for (const std::string& name : ConsoleNames()) {
        if (SameDevice(device, (m_devDir / name).string()))
            return name;
    }
    return std::string();
}

TtyHardware TtyScanner::Hardware(const std::string& device) const
{
    TtyHardware hardware;
    std::error_code ec;
    const std::filesystem::path node = std::filesystem::canonical(device, ec);
    if (ec)
        return hardware;
    hardware.node = node.string();
    hardware.console = ConsoleOf(device);
    // sysfs knows a tty by its name in /dev; a node elsewhere (a
    // pseudo-terminal in /dev/pts) has no entry there, or one of another.
    const std::filesystem::path devDir = std::filesystem::canonical(m_devDir, ec);
    if (!ec && node.parent_path() == devDir)
        ReadSysfs(node.filename().string(), hardware);
    FindById(device, hardware);
    return hardware;
}

void TtyScanner::ReadSysfs(const std::string& name, TtyHardware& hardware) const
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path device = fs::canonical(m_sysClassTty / name / "device", ec);
    if (ec)
        return;

    // The serial core's own port and controller devices (subsystem
    // serial-base) stand between a UART's tty and the driver that found it.
    fs::path at = device;
    for (int up = 0; up < kLevelsUp && at.has_relative_path(); ++up, at = at.parent_path()) {
        if (fs::is_symlink(at / "driver", ec) && LinkName(at / "subsystem") != "serial-base") {
            hardware.driver = LinkName(at / "driver");
            break;
        }
    }

    at = device;
    for (int up = 0; up < kLevelsUp && at.has_relative_path(); ++up, at = at.parent_path()) {
        if (fs::exists(at / "idVendor", ec)) {
            hardware.vendorId = Attribute(at / "idVendor");
            hardware.productId = Attribute(at / "idProduct");
            hardware.manufacturer = Attribute(at / "manufacturer");
            hardware.product = Attribute(at / "product");
            hardware.serialNumber = Attribute(at / "serial");
            break;
        }
    }
}

void TtyScanner::FindById(const std::string& device, TtyHardware& hardware) const
{
    namespace fs = std::filesystem;
    const fs::path byIdDir = (m_devDir / "serial" / "by-id").lexically_normal();
    std::error_code ec;
    int seen = 0;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end && seen < kMaxByIdLinks;
         it.increment(ec), ++seen) {
        const std::string link = it->path().string();
        // Of several links to one node (rare), the same one every time.
        if (SameDevice(link, device) && (hardware.byId.empty() || link < hardware.byId))
            hardware.byId = link;
    }
    if (hardware.byId.empty())
        return;

    // The name asked about may be the by-id link, or a link of the user's
    // to it: then it already follows the adapter from socket to socket.
    fs::path at = device;
    for (int hop = 0; hop < 8; ++hop) {
        if (at.parent_path().lexically_normal() == byIdDir) {
            hardware.givenById = true;
            return;
        }
        if (!fs::is_symlink(at, ec))
            return;
        const fs::path target = fs::read_symlink(at, ec);
        if (ec)
            return;
        at = (target.is_absolute() ? target : at.parent_path() / target).lexically_normal();
    }
}
