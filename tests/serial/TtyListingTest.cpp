#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/PortTable.h"
#include "serial/TtyListing.h"
#include "serial/TtyScanner.h"

namespace fs = std::filesystem;

namespace {

// A /dev and a /sys laid out as Linux lays them out for four serial
// devices: a 16550 UART behind the serial core's port and controller
// devices, an FTDI and a CH340 USB adapter (the CH340 without a serial
// number), and a CDC-ACM board whose strings hold control bytes; udev's
// by-id links for the three USB ones.
class TtyListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("kvm-tty-listing-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "dev" / "serial" / "by-id");
        fs::create_directories(m_root / "sys" / "class" / "tty");
        fs::create_directories(m_root / "home");

        const std::string uart = "platform/serial8250";
        Driver(uart, "platform", "serial8250");
        Driver(uart + "/serial8250:0", "serial-base", "ctrl");
        Driver(uart + "/serial8250:0/serial8250:0.0", "serial-base", "port");
        Tty("ttyS0", uart + "/serial8250:0/serial8250:0.0");
        std::ofstream(m_root / "sys" / "class" / "tty" / "ttyS0" / "type") << "4\n";

        const std::string hub = "pci0000:00/0000:00:14.0/usb1";
        Usb(hub + "/1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
        Driver(hub + "/1-1/1-1:1.0", "usb", "ftdi_sio");
        Driver(hub + "/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
        Tty("ttyUSB0", hub + "/1-1/1-1:1.0/ttyUSB0");
        ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");

        Usb(hub + "/1-2", "1a86", "7523", "", "USB2.0-Serial", "");
        Driver(hub + "/1-2/1-2:1.0", "usb", "ch341");
        Driver(hub + "/1-2/1-2:1.0/ttyUSB1", "usb-serial", "ch341");
        Tty("ttyUSB1", hub + "/1-2/1-2:1.0/ttyUSB1");
        ById("usb-1a86_USB2.0-Serial-if00-port0", "ttyUSB1");

        Usb(hub + "/1-3", "2e8a", "000a", "Raspberry Pi", "Pico\nW\x1b[2J", "E6614C311B7A5E2F");
        Driver(hub + "/1-3/1-3:1.0", "usb", "cdc_acm");
        Tty("ttyACM0", hub + "/1-3/1-3:1.0");
        ById("usb-Raspberry_Pi_Pico_E6614C311B7A5E2F-if00", "ttyACM0");

        // A link of the user's to a by-id name.
        fs::create_symlink(m_root / "dev" / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                           m_root / "home" / "kvm-adapter");
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path SysDevice(const std::string& path) { return m_root / "sys" / "devices" / path; }

    void Driver(const std::string& path, const std::string& subsystem, const std::string& driver)
    {
        const fs::path bus = m_root / "sys" / "bus" / subsystem;
        fs::create_directories(bus / "drivers" / driver);
        fs::create_directories(SysDevice(path));
        fs::create_directory_symlink(bus, SysDevice(path) / "subsystem");
        fs::create_directory_symlink(bus / "drivers" / driver, SysDevice(path) / "driver");
    }

    // A USB device's attributes as the kernel writes them, each with its
    // line end; an empty string is an attribute the device does not have.
    void Usb(const std::string& path, const std::string& vendor, const std::string& product,
             const std::string& manufacturer, const std::string& productName, const std::string& serial)
    {
        fs::create_directories(SysDevice(path));
        const std::pair<const char*, std::string> attributes[] = {
            {"idVendor", vendor}, {"idProduct", product}, {"manufacturer", manufacturer},
            {"product", productName}, {"serial", serial}};
        for (const auto& [name, value] : attributes) {
            if (!value.empty())
                std::ofstream(SysDevice(path) / name) << value << '\n';
        }
    }

    // /dev/NAME, and /sys/class/tty/NAME linked to the class device below
    // the device at path, whose "device" link leads back up to it.
    void Tty(const std::string& name, const std::string& path)
    {
        std::ofstream(m_root / "dev" / name).put('\0');
        const fs::path classDevice = SysDevice(path) / "tty" / name;
        fs::create_directories(classDevice);
        fs::create_directory_symlink("../..", classDevice / "device");
        fs::create_directory_symlink(classDevice, m_root / "sys" / "class" / "tty" / name);
    }

    void ById(const std::string& link, const std::string& name)
    {
        fs::create_symlink("../../" + name, m_root / "dev" / "serial" / "by-id" / link);
    }

    fs::path m_root;
};

// Each entry's first line is "COMn  DEVICE" as it always was; what the
// system knows follows, indented; then what no COMn reaches.
TEST_F(TtyListingTest, NamesTheHardwareAndTheStableName)
{
    const std::string ftdi = "driver ftdi_sio, USB 0403:6001, manufacturer \"FTDI\", product \"FT232R USB UART\", "
                             "serial number \"A50285BI\"\n";
    const std::string ch340 = "driver ch341, USB 1a86:7523, product \"USB2.0-Serial\"\n";
    const std::string pico = "driver cdc_acm, USB 2e8a:000a, manufacturer \"Raspberry Pi\", product "
                             "\"Pico\\x0aW\\x1b[2J\", serial number \"E6614C311B7A5E2F\"\n";
    const std::string byId = "R/dev/serial/by-id/";
    const std::string ftdiId = byId + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const std::string ch340Id = byId + "usb-1a86_USB2.0-Serial-if00-port0";
    const std::string picoId = byId + "usb-Raspberry_Pi_Pico_E6614C311B7A5E2F-if00";
    const std::string in = "      ";
    const std::string unreached = "  (not reachable as COM1 to COM12: --map COMn=";

    const struct {
        const char* what;
        const char* console; // console/active, nullptr for none
        std::vector<std::pair<std::string, std::string>> map;
        std::string listing; // R stands for the fake root
    } cases[] = {
        {"the system's own table",
         nullptr,
         {{"COM1", "R/dev/ttyS0"}, {"COM2", "R/dev/ttyUSB0"}, {"COM3", "R/dev/ttyUSB1"}, {"COM4", "R/dev/ttyACM0"}},
         "COM1  R/dev/ttyS0\n" + in + "driver serial8250\n"
             + "COM2  R/dev/ttyUSB0\n" + in + ftdi
             + in + "to keep this adapter as COM2 after re-plugging: --map COM2=" + ftdiId + "\n"
             + "COM3  R/dev/ttyUSB1\n" + in + ch340
             + in + "to keep this adapter as COM3 after re-plugging: --map COM3=" + ch340Id
             + " (it has no serial number: every adapter of its kind gets this name)\n"
             + "COM4  R/dev/ttyACM0\n" + in + pico
             + in + "to keep this adapter as COM4 after re-plugging: --map COM4=" + picoId + "\n"},
        {"a link of the user's to a by-id name",
         nullptr,
         {{"COM1", "R/home/kvm-adapter"}},
         "COM1  R/home/kvm-adapter\n" + in + "R/dev/ttyUSB0, " + ftdi
             + "-     R/dev/ttyS0" + unreached + "R/dev/ttyS0)\n" + in + "driver serial8250\n"
             + "-     R/dev/ttyUSB1" + unreached + ch340Id + ")\n" + in + ch340
             + "-     R/dev/ttyACM0" + unreached + picoId + ")\n" + in + pico},
        {"the by-id name, and the kernel console",
         "tty0 ttyS0\n",
         {{"COM2", ftdiId}, {"COM5", "R/dev/ttyS0"}, {"COM6", "R/dev/ttyACM0"}},
         "COM2  " + ftdiId + "\n" + in + "R/dev/ttyUSB0, " + ftdi
             + "COM5  R/dev/ttyS0\n" + in + "driver serial8250\n"
             + in + "the kernel console (ttyS0): no switch answers there\n"
             + "COM6  R/dev/ttyACM0\n" + in + pico
             + in + "to keep this adapter as COM6 after re-plugging: --map COM6=" + picoId + "\n"
             + "-     R/dev/ttyUSB1" + unreached + ch340Id + ")\n" + in + ch340},
        {"devices the system does not have, one named with a line end; the console unmapped",
         "ttyS0",
         {{"COM1", "R/dev/ttyUSB7\n"}, {"COM2", "/dev/pts/4242"}, {"COM3", "R/dev/ttyUSB0"},
          {"COM4", "R/dev/ttyUSB1"}, {"COM12", "R/dev/ttyACM0"}},
         "COM1  R/dev/ttyUSB7\\x0a\nCOM2  /dev/pts/4242\n"
             + std::string("COM3  R/dev/ttyUSB0\n") + in + ftdi
             + in + "to keep this adapter as COM3 after re-plugging: --map COM3=" + ftdiId + "\n"
             + "COM4  R/dev/ttyUSB1\n" + in + ch340
             + in + "to keep this adapter as COM4 after re-plugging: --map COM4=" + ch340Id
             + " (it has no serial number: every adapter of its kind gets this name)\n"
             + "COM12  R/dev/ttyACM0\n" + in + pico
             + in + "to keep this adapter as COM12 after re-plugging: --map COM12=" + picoId + "\n"
             + "-     R/dev/ttyS0  (the kernel console (ttyS0), left out of COM1 to COM12: --map COMn=R/dev/ttyS0 "
             + "would use it)\n" + in + "driver serial8250\n"},
        {"nothing mapped", nullptr, {},
         "-     R/dev/ttyS0" + unreached + "R/dev/ttyS0)\n" + in + "driver serial8250\n"
             + "-     R/dev/ttyUSB0" + unreached + ftdiId + ")\n" + in + ftdi
             + "-     R/dev/ttyUSB1" + unreached + ch340Id + ")\n" + in + ch340
             + "-     R/dev/ttyACM0" + unreached + picoId + ")\n" + in + pico},
    };
    const auto rooted = [this](std::string text) {
        for (std::size_t at = 0; (at = text.find('R', at)) != std::string::npos;) {
            if (at + 1 < text.size() && text[at + 1] == '/') {
                text.replace(at, 1, m_root.string());
                at += m_root.string().size();
            } else {
                ++at;
            }
        }
        return text;
    };
    const TtyListing listing(TtyScanner(m_root / "dev", m_root / "sys" / "class" / "tty"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_root / "sys" / "class" / "tty" / "console");
        if (c.console) {
            fs::create_directories(m_root / "sys" / "class" / "tty" / "console");
            std::ofstream(m_root / "sys" / "class" / "tty" / "console" / "active") << c.console;
        }
        PortTable table;
        for (const auto& [name, device] : c.map)
            table.Map(name, rooted(device));
        EXPECT_EQ(listing.Text(table), rooted(c.listing));
    }
}

} // namespace
