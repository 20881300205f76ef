#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/TtyScanner.h"

namespace fs = std::filesystem;

namespace {

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

// What the command line asks of a port where no switch answered: is it the
// kernel's console? Named directly or through a link of udev's or the user's.
TEST_F(TtyScannerTest, ConsoleOfFollowsLinks)
{
    const struct {
        const char* active; // nullptr: no console/active attribute
        const char* device; // in the fake /dev
        const char* console;
    } cases[] = {
        {"tty0 ttyS0\n", "ttyS0", "ttyS0"},
        {"tty0 ttyS0\n", "serial/by-path/platform-serial8250-port0", "ttyS0"},
        {"tty0 ttyS0\n", "kvm-link", "ttyS0"},
        {"tty0 ttyS0\n", "ttyS1", ""},
        {"ttyUSB0", "ttyUSB0", "ttyUSB0"},
        {"", "ttyS0", ""},
        {nullptr, "ttyS0", ""},
        {"tty0 ttyS0\n", "missing", ""},
    };
    for (const char* name : {"ttyS0", "ttyS1", "ttyUSB0", "tty0"})
        Dev(name);
    fs::create_directories(m_root / "dev" / "serial" / "by-path");
    fs::create_symlink("../../ttyS0", m_root / "dev" / "serial" / "by-path" / "platform-serial8250-port0");
    fs::create_symlink(m_root / "dev" / "serial" / "by-path" / "platform-serial8250-port0", m_root / "dev" / "kvm-link");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.active ? c.active : "(none)") + " " + c.device);
        fs::remove_all(m_root / "sys" / "console");
        if (c.active) {
            fs::create_directories(m_root / "sys" / "console");
            std::ofstream(m_root / "sys" / "console" / "active") << c.active;
        }
        EXPECT_EQ(TtyScanner(m_root / "dev", m_root / "sys").ConsoleOf((m_root / "dev" / c.device).string()),
                  c.console);
    }
}

TEST_F(TtyScannerTest, MissingDirectoriesFindNothing)
{
    EXPECT_TRUE(TtyScanner(m_root / "nodev", m_root / "nosys").Scan().empty());
}

} // namespace
