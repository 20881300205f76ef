#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/PortTable.h"

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

TEST(PortTableDetect, OnlyPortNamesAndAtMostTwelve)
{
    const PortTable table = PortTable::Detect();
    const auto entries = table.Entries();
    EXPECT_LE(entries.size(), static_cast<std::size_t>(PortTable::kMaxPort));
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].first, "COM" + std::to_string(i + 1)) << "detected ports fill COM1 up";
}

} // namespace
