#include "serial/TtyListing.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "serial/PortTable.h"

namespace {

const char kIndent[] = "      ";

std::string Shown(const std::string& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0F];
        } else {
            shown += c;
        }
    }
    return shown;
}

// Appended, not a literal + temporary chain, which GCC 12 takes for an
// overlapping copy (-Wrestrict) in optimised builds.
std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    quoted += Shown(text);
    quoted += '"';
    return quoted;
}

// "/dev/ttyUSB0, driver ftdi_sio, USB 0403:6001, manufacturer "FTDI", ..."
// with what is known; the node only when the device was named another way.
std::string Facts(const std::string& device, const TtyHardware& hardware)
{
    std::vector<std::string> facts;
    if (!hardware.node.empty() && hardware.node != device)
        facts.push_back(Shown(hardware.node));
    if (!hardware.driver.empty())
        facts.push_back("driver " + Shown(hardware.driver));
    if (!hardware.vendorId.empty())
        facts.push_back("USB " + Shown(hardware.vendorId) + ":" + Shown(hardware.productId));
    if (!hardware.manufacturer.empty())
        facts.push_back("manufacturer " + Quoted(hardware.manufacturer));
    if (!hardware.product.empty())
        facts.push_back("product " + Quoted(hardware.product));
    if (!hardware.serialNumber.empty())
        facts.push_back("serial number " + Quoted(hardware.serialNumber));
    std::string text;
    for (const std::string& fact : facts)
        text += (text.empty() ? "" : ", ") + fact;
    return text.empty() ? text : kIndent + text + "\n";
}

} // namespace

TtyListing::TtyListing(TtyScanner scanner)
    : m_scanner(std::move(scanner))
{
}

std::string TtyListing::Text(const PortTable& inUse) const
{
    std::string text;
    std::vector<std::string> reached;
    for (const auto& [name, device] : inUse.Entries()) {
        const std::string source = inUse.Source(name);
        text += name + "  " + Shown(device) + "\n" + (source.empty() ? "" : kIndent + Shown(source) + "\n")
            + Details(name, device);
        reached.push_back(device);
    }
    // The devices a --map left out, those past COM12, and the kernel's
    // console, which the detected table leaves out but a --map may name.
    for (const std::string& device : m_scanner.SerialLines()) {
        const bool isReached = std::any_of(reached.begin(), reached.end(), [&device](const std::string& mapped) {
            return TtyScanner::SameDevice(mapped, device);
        });
        if (isReached)
            continue;
        const TtyHardware hardware = m_scanner.Hardware(device);
        const std::string& stable = hardware.byId.empty() ? device : hardware.byId;
        const std::string why = hardware.console.empty()
            ? "not reachable as COM1 to COM12: --map COMn=" + Shown(stable)
            : "the kernel console (" + Shown(hardware.console) + "), left out of COM1 to COM12: --map COMn="
                + Shown(stable) + " would use it";
        text += "-     " + Shown(device) + "  (" + why + ")\n" + Facts(device, hardware);
    }
    return text;
}

std::string TtyListing::Details(const std::string& portName, const std::string& device) const
{
    const TtyHardware hardware = m_scanner.Hardware(device);
    std::string text = Facts(device, hardware);
    if (!hardware.console.empty())
        text += kIndent + ("the kernel console (" + Shown(hardware.console) + "): no switch answers there\n");
    if (!hardware.byId.empty() && !hardware.givenById) {
        text += kIndent + ("to keep this adapter as " + portName + " after re-plugging: --map " + portName + "="
                           + Shown(hardware.byId));
        // udev names such an adapter by maker and model alone.
        if (!hardware.vendorId.empty() && hardware.serialNumber.empty())
            text += " (it has no serial number: every adapter of its kind gets this name)";
        text += "\n";
    }
    return text;
}
