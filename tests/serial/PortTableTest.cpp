#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/PortTable.h"
#include "serial/SerialError.h"
#include "serial/TtyScanner.h"

namespace fs = std::filesystem;

namespace {

TEST(PortTable, PortNames)
{
    for (const char* name : {"COM1", "COM2", "COM9", "COM10", "COM11", "COM12"})
        EXPECT_TRUE(PortTable::IsPortName(name)) << name;
    for (const char* name : {"", "COM", "COM0", "COM00", "COM01", "COM13", "COM100", "com1", "Com1",
                             "COM1 ", " COM1", "COM-1", "COM+1", "LPT1", "AUTO", "COM1x", "/dev/ttyS0"})
        EXPECT_FALSE(PortTable::IsPortName(name)) << '"' << name << '"';
}

TEST(PortTable, MapOptions)
{
    struct Case {
        const char* option;
        bool ok;
        const char* name;   // checked when ok
        const char* device;
    };
    const Case cases[] = {
        {"COM1=/dev/ttyS0", true, "COM1", "/dev/ttyS0"},
        {"COM12=/dev/ttyUSB3", true, "COM12", "/dev/ttyUSB3"},
        {"COM3=/tmp/a=b", true, "COM3", "/tmp/a=b"},
        {"COM4=relative/pty", true, "COM4", "relative/pty"},
        {"COM13=/dev/ttyS0", false, nullptr, nullptr},
        {"COM0=/dev/ttyS0", false, nullptr, nullptr},
        {"com1=/dev/ttyS0", false, nullptr, nullptr},
        {"COM1=", false, nullptr, nullptr},
        {"COM1", false, nullptr, nullptr},
        {"=/dev/ttyS0", false, nullptr, nullptr},
        {"", false, nullptr, nullptr},
        {"/dev/ttyS0", false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        PortTable table;
        std::string error = "stale";
        EXPECT_EQ(table.AddMapping(c.option, error), c.ok) << c.option;
        if (c.ok) {
            EXPECT_TRUE(error.empty()) << c.option;
            EXPECT_EQ(table.Resolve(c.name), std::optional<std::string>(c.device)) << c.option;
            EXPECT_EQ(table.Entries().size(), 1u);
        } else {
            EXPECT_FALSE(error.empty()) << c.option;
            EXPECT_TRUE(table.Entries().empty()) << c.option;
        }
    }
}

TEST(PortTable, EntriesAndListingInComOrder)
{
    PortTable table;
    std::string error;
    ASSERT_TRUE(table.AddMapping("COM12=/dev/ttyACM0", error));
    ASSERT_TRUE(table.AddMapping("COM2=/dev/ttyUSB0", error));
    ASSERT_TRUE(table.AddMapping("COM10=/dev/ttyS4", error));
    ASSERT_TRUE(table.AddMapping("COM2=/dev/ttyUSB1", error)); // a later --map wins

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"COM2", "/dev/ttyUSB1"}, {"COM10", "/dev/ttyS4"}, {"COM12", "/dev/ttyACM0"}};
    EXPECT_EQ(table.Entries(), expected);
    EXPECT_EQ(table.Listing(), "COM2  /dev/ttyUSB1\nCOM10  /dev/ttyS4\nCOM12  /dev/ttyACM0\n");
    EXPECT_FALSE(table.Resolve("COM1"));
    EXPECT_FALSE(table.Resolve("COM02"));
    EXPECT_EQ(PortTable().Listing(), "");
}

TEST(SerialError, Describe)
{
    struct Case {
        SerialError error;
        const char* text;
    };
    const Case cases[] = {
        {{SerialError::Kind::PermissionDenied, 13, "COM3", "/dev/ttyUSB0"},
         "COM3 (/dev/ttyUSB0): permission denied (is the user in group dialout?)"},
        {{SerialError::Kind::Busy, 11, "COM1", "/dev/ttyS0"},
         "COM1 (/dev/ttyS0): device busy (held by another program)"},
        {{SerialError::Kind::NoSuchDevice, 2, "COM2", "/dev/ttyUSB7"},
         "COM2 (/dev/ttyUSB7): no such device"},
        {{SerialError::Kind::UnknownName, 0, "COM13", ""}, "COM13: no such port (COM1 to COM12)"},
        {{SerialError::Kind::UnknownName, 0, "COM4", ""},
         "COM4: no device mapped (see --list-ports, --map COM4=DEVICE)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.error.Describe(), c.text);
}

class TtyScannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("kvm-tty-scan-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "dev");
        fs::create_directories(m_root / "sys");
    }
    void TearDown() override { fs::remove_all(m_root); }

    void Dev(const std::string& name) { std::ofstream(m_root / "dev" / name).put('\0'); }

    // A ttyS entry in sysfs; type < 0 writes no type attribute.
    void Sys(const std::string& name, bool device, int type)
    {
        fs::create_directories(m_root / "sys" / name);
        if (device)
            fs::create_directories(m_root / "sys" / name / "device");
        if (type >= 0)
            std::ofstream(m_root / "sys" / name / "type") << type << '\n';
    }

    fs::path m_root;
};

TEST_F(TtyScannerTest, NaturalOrderAndNoPlaceholders)
{
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS10", "ttyS11", "ttyUSB10",
                             "ttyUSB2", "ttyACM0", "ttyUSB0", "tty1", "ttyS", "ttySx", "ttyUSB",
                             "ttyprintk", "console", "ttyAMA0"})
        Dev(name);
    Sys("ttyS0", true, 4);   // a 16550A
    Sys("ttyS1", true, 0);   // placeholder: port type unknown
    Sys("ttyS2", true, 4);
    Sys("ttyS3", false, 4);  // no device behind it
    Sys("ttyS10", true, -1); // no type attribute: trust the device link
    // ttyS11 has no sysfs entry at all

    const std::string dev = (m_root / "dev").string();
    const std::vector<std::string> expected = {
        dev + "/ttyS0",   dev + "/ttyS2",    dev + "/ttyS10", dev + "/ttyUSB0",
        dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0"};
    EXPECT_EQ(TtyScanner(m_root / "dev", m_root / "sys").Scan(), expected);
}

// The kernel's console may sit on a serial port; sending firmware frames into
// it would garble the console and never reach a switch. --map can still name it.
TEST_F(TtyScannerTest, TheKernelConsoleIsLeftOut)
{
    struct Case {
        const char* name;
        const char* active; // nullptr: no console/active attribute
        std::vector<std::string> found;
    };
    const Case cases[] = {
        {"no console attribute", nullptr, {"ttyS0", "ttyS2", "ttyUSB0"}},
        {"virtual terminal and first UART", "tty0 ttyS0\n", {"ttyS2", "ttyUSB0"}},
        {"USB adapter, no newline", "ttyUSB0", {"ttyS0", "ttyS2"}},
        {"two UARTs", "ttyS2 ttyS0\n", {"ttyUSB0"}},
        {"empty", "", {"ttyS0", "ttyS2", "ttyUSB0"}},
        {"a name that only starts like a port", "ttyS", {"ttyS0", "ttyS2", "ttyUSB0"}},
    };
    for (const char* name : {"ttyS0", "ttyS2", "ttyUSB0", "tty0", "console"})
        Dev(name);
    Sys("ttyS0", true, 4);
    Sys("ttyS2", true, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_root / "sys" / "console");
        if (c.active) {
            fs::create_directories(m_root / "sys" / "console");
            std::ofstream(m_root / "sys" / "console" / "active") << c.active;
        }
        std::vector<std::string> expected;
        for (const std::string& found : c.found)
            expected.push_back((m_root / "dev" / found).string());
        EXPECT_EQ(TtyScanner(m_root / "dev", m_root / "sys").Scan(), expected);
    }
}

TEST_F(TtyScannerTest, MissingDirectoriesFindNothing)
{
    EXPECT_TRUE(TtyScanner(m_root / "nodev", m_root / "nosys").Scan().empty());
}

TEST(PortTableDetect, OnlyPortNamesAndAtMostTwelve)
{
    const PortTable table = PortTable::Detect();
    const auto entries = table.Entries();
    EXPECT_LE(entries.size(), static_cast<std::size_t>(PortTable::kMaxPort));
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].first, "COM" + std::to_string(i + 1)) << "detected ports fill COM1 up";
}

} // namespace
