#include <gtest/gtest.h>

#include <ostream>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "TestSupport.h"

namespace {

std::string Entry(const std::string& port, const char* verdict)
{
    return "Opening " + port + " ...................." + verdict;
}

TEST(ProbeScan, SilentPortThenMissingPortThenTheSwitch)
{
    SwitchSimConfig silent;
    silent.silent = true;
    auto com1 = StartSim(silent);
    auto com3 = StartSim();
    KvmRig rig;
    rig.Map("COM1", *com1);
    rig.Map("COM3", *com3);

    EXPECT_EQ(rig.ops.ProbeKvm(1), kProbeFoundByScan);

    // The attempt count is kept per scan: the first port that opens gets four
    // probes, every later one a single probe.
    EXPECT_EQ(com1->Report().probes, 4);
    EXPECT_EQ(com3->Report().probes, 1);
    EXPECT_TRUE(rig.port.IsOpen());
    EXPECT_STREQ(rig.state.scanPortName, "COM3");
    EXPECT_EQ(rig.state.silentPortCount, 1);
    EXPECT_EQ(rig.state.logLineCount, 3);
    EXPECT_EQ(rig.state.logText, "Scanning COM port \n" + Entry("COM1", "[ Passed ]\n") +
                                     Entry("COM2", "[ Failed ]\n") + Entry("COM3", "[   OK   ]\n"));
    const auto statuses = rig.services.Statuses();
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], "Auto Scaning COM ports.");
    EXPECT_EQ(statuses[1], "COM1 is no KVM respondse.");
    rig.port.Close();
}

// After the first port's four probes, a switch that misses its single probe
// counts as silent and the scan goes on.
TEST(ProbeScan, SwitchMissingItsSingleProbeCountsAsSilent)
{
    SwitchSimConfig silent;
    silent.silent = true;
    SwitchSimConfig late;
    late.answerProbeFrom = 2;
    auto com1 = StartSim(silent);
    auto com3 = StartSim(late);
    KvmRig rig;
    rig.Map("COM1", *com1);
    rig.Map("COM3", *com3);

    EXPECT_EQ(rig.ops.ProbeKvm(1), kProbeScanFoundNothing);

    EXPECT_EQ(com1->Report().probes, 4);
    EXPECT_EQ(com3->Report().probes, 1);
    EXPECT_EQ(rig.state.silentPortCount, 2);
    EXPECT_EQ(rig.services.Status(), "COM3 is no KVM respondse.");
    EXPECT_FALSE(rig.port.IsOpen());
}

TEST(ProbeScan, NoPortAtAllLogsTwelveFailuresTrimmedAfterSeven)
{
    KvmRig rig;
    // A fifth character left over from an earlier scan that reached COM1x.
    std::snprintf(rig.state.scanPortName, sizeof rig.state.scanPortName, "COM12");

    EXPECT_EQ(rig.ops.ProbeKvm(1), kProbeScanFoundNothing);

    // The log was emptied before COM8, so it holds COM8 to COM12 only.
    std::string expected;
    for (int n = 8; n <= 12; ++n)
        expected += Entry("COM" + std::to_string(n), "[ Failed ]\n");
    EXPECT_EQ(rig.state.logText, expected);
    EXPECT_EQ(rig.state.logLineCount, 5);
    EXPECT_EQ(rig.state.silentPortCount, 0);
    EXPECT_EQ(rig.services.Status(), "Auto Scaning COM ports.");
    EXPECT_FALSE(rig.port.IsOpen());

    // Every port shown was named right: COM1 after a leftover "COM12" too.
    const auto snapshots = rig.services.Snapshots();
    ASSERT_FALSE(snapshots.empty());
    EXPECT_NE(snapshots.front().log.find(Entry("COM1", "")), std::string::npos);
    EXPECT_EQ(snapshots.front().log.find("COM12"), std::string::npos);
    int emptied = 0;
    for (const auto& s : snapshots)
        emptied += s.log.empty() ? 1 : 0;
    EXPECT_EQ(emptied, 1);
}

TEST(ProbeNamed, SwitchAnsweringTheThirdProbe)
{
    SwitchSimConfig late;
    late.answerProbeFrom = 3;
    late.probeReply = 0xFA;
    auto sim = StartSim(late);
    KvmRig rig;
    rig.Map("COM5", *sim);
    rig.state.portName = "COM5";

    EXPECT_EQ(rig.ops.ProbeKvm(2), kProbeFoundOnNamedPort);

    EXPECT_EQ(sim->Report().probes, 3);
    EXPECT_TRUE(rig.port.IsOpen());
    EXPECT_EQ(rig.state.replyBuffer[0], 0xFA);
    EXPECT_EQ(rig.state.replyLength, 6 + 6 + 1); // code, 2 bytes, date, "PZN442", zero
    EXPECT_EQ(rig.state.logText, "Checking COM5 ...................[   OK   ]\n");
    EXPECT_EQ(rig.state.silentPortCount, 0);
    EXPECT_EQ(rig.state.logLineCount, 0);
    rig.port.Close();
}

struct ForeignReplyCase {
    const char* name;
    std::uint8_t code;
    int mode;
};

void PrintTo(const ForeignReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProbeForeignReply : public ::testing::TestWithParam<ForeignReplyCase> {};

// Only F2, FA and F3 accept a probe: any other first byte counts as silence.
TEST_P(ProbeForeignReply, CountsAsSilence)
{
    SwitchSimConfig config;
    config.probeReply = GetParam().code;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Map("COM5", *sim);
    rig.state.portName = "COM5";

    EXPECT_EQ(rig.ops.ProbeKvm(GetParam().mode), kProbeNamedPortSilent);

    EXPECT_EQ(sim->Report().probes, 4);
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.state.logText, "Checking COM5 ...................[ Passed ]\n");
    EXPECT_EQ(rig.services.Status(), "COM5 is no KVM respondse.");
    EXPECT_EQ(rig.state.silentPortCount, 1);
    EXPECT_GT(rig.state.replyLength, 0);
}

INSTANTIATE_TEST_SUITE_P(Codes, ProbeForeignReply,
                         ::testing::Values(ForeignReplyCase{"GoAheadCode", 0xF0, 2},
                                           ForeignReplyCase{"NoReplyMarker", 0xF1, 2},
                                           ForeignReplyCase{"Zero", 0x00, 2},
                                           ForeignReplyCase{"Rejection", 0xF5, 2},
                                           ForeignReplyCase{"GoAheadCodeModeZero", 0xF0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProbeNamed, PortThatDoesNotOpen)
{
    KvmRig rig;
    rig.state.portName = "COM9";
    EXPECT_EQ(rig.ops.ProbeKvm(2), kProbeNamedPortFailed);
    EXPECT_EQ(rig.state.logText, "Checking COM9 ...................[ Failed ]\n");
    EXPECT_EQ(rig.state.silentPortCount, 0);
    EXPECT_FALSE(rig.port.IsOpen());
}

} // namespace
