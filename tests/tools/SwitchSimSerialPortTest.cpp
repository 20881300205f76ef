// The product's own serial layer against the simulated switch: the two
// agree on a frame and its reply.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"
#include "serial/PortTable.h"
#include "tools/SwitchSim.h"

namespace {

TEST(SwitchSimThroughSerialPort, ProbeAnsweredWithF2)
{
    SwitchSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    PortTable table;
    table.Map("COM1", sim.DevicePath());
    CSerialPort port(&table);
    ASSERT_EQ(port.Open("COM1", 115200, 1000), 1) << port.LastOpenError().Describe();

    const std::uint8_t probe[] = {0x01};
    EXPECT_EQ(SendFrame(&port, probe, 1), 1);
    std::uint8_t reply[kReplyBufferSize] = {};
    EXPECT_GE(ReceiveReply(&port, reply, 100), 1);
    EXPECT_EQ(reply[0], 0xF2);
    port.Close();
    sim.Stop();
}

} // namespace
