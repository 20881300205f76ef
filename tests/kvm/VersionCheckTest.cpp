#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "PtyFarEnd.h"
#include "TestSupport.h"

namespace {

const std::string kDashes53(53, '-');
const std::string kDashes56(56, '-');
const std::string kNewerFirmware =
    kDashes53 + "\nA newer version of KVM firmware is available.\nPress Upgrade to start upgrade.";
const std::string kNewerSwitch = kDashes53 + "\nKVM version is newer than firmware.\nDo you still want to upgrade?";
const std::string kUpToDate = "\nThe KVM firmware is up to date.";

SwitchSimConfig SwitchDated(int a, int b, int c, const std::string& model = "PZN442")
{
    SwitchSimConfig config;
    config.date[0] = static_cast<std::uint8_t>(a);
    config.date[1] = static_cast<std::uint8_t>(b);
    config.date[2] = static_cast<std::uint8_t>(c);
    config.model = model;
    return config;
}

void SetFirmwareDate(KvmRig& rig, int a, int b, int c)
{
    rig.state.modelText = "PZN442";
    rig.state.dateField1 = a;
    rig.state.dateField2 = b;
    rig.state.dateField3 = c;
    rig.state.firmwareDateKnown = 1;
}

// Every way out: controls disabled first and enabled as the last act, with
// the port closed.
void ExpectControlsBack(const KvmRig& rig)
{
    const auto calls = rig.services.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "update");
    EXPECT_EQ(calls[1], "disable");
    EXPECT_EQ(calls.back(), "enable");
    EXPECT_EQ(rig.services.CallCount("disable"), 1);
    EXPECT_EQ(rig.services.CallCount("enable"), 1);
    EXPECT_FALSE(rig.services.PortOpenAtLastEnable());
    EXPECT_FALSE(rig.port.IsOpen());
}

struct CompareCase {
    const char* name;
    int firmware[3];
    int kvm[3];
    std::string verdict;
};

void PrintTo(const CompareCase& c, std::ostream* os)
{
    *os << c.name;
}

class VersionCompare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(VersionCompare, ShowsBothDatesAndWhichIsNewer)
{
    const CompareCase& c = GetParam();
    auto sim = StartSim(SwitchDated(c.kvm[0], c.kvm[1], c.kvm[2]));
    KvmRig rig;
    rig.Attach("COM3", *sim);
    SetFirmwareDate(rig, c.firmware[0], c.firmware[1], c.firmware[2]);
    rig.state.firmwarePath = "/fw/PZN442-7-12-25.bin";

    rig.ops.CheckVersion();

    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "Firmware : \t%02d-%02d-%02d \nModel : \tPZN442\n\nKVM : \t\t%02d-%02d-%02d \nModel : \tPZN442\n",
                  c.firmware[0], c.firmware[1], c.firmware[2], c.kvm[0], c.kvm[1], c.kvm[2]);
    EXPECT_EQ(rig.state.logText, expected + c.verdict);
    EXPECT_EQ(rig.state.logLineCount, 9);
    EXPECT_EQ(rig.services.Status(), "KVM version read from COM3");
    EXPECT_TRUE(rig.ops.LastCheckSucceeded());
    // The version request cleared the shared reply code as every reply does.
    EXPECT_EQ(rig.state.replyBuffer[0], 0);
    // The status line showed the file, then the search, on the way.
    const auto statuses = rig.services.Statuses();
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], "/fw/PZN442-7-12-25.bin");
    EXPECT_EQ(statuses[1], "Searching KVM..Plesase Wait");
    // One probe and one version request.
    EXPECT_EQ(sim->Report().probes, 2);
    ExpectControlsBack(rig);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, VersionCompare,
    ::testing::Values(CompareCase{"FieldTwoDecides", {7, 12, 25}, {9, 1, 25}, kNewerFirmware},
                      CompareCase{"AllEqual", {7, 12, 25}, {7, 12, 25}, kUpToDate},
                      CompareCase{"FieldThreeSmaller", {30, 12, 24}, {1, 1, 25}, kNewerSwitch}),
    [](const auto& info) { return std::string(info.param.name); });

struct InfoCase {
    const char* name;
    int dateKnown;
    std::uint8_t modelIndex;
    std::string log;
    int lineCount;
};

void PrintTo(const InfoCase& c, std::ostream* os)
{
    *os << c.name;
}

class VersionInfoOnly : public ::testing::TestWithParam<InfoCase> {};

TEST_P(VersionInfoOnly, ShowsTheSwitchAlone)
{
    const InfoCase& c = GetParam();
    auto sim = StartSim(SwitchDated(7, 5, 3));
    KvmRig rig;
    rig.Attach("COM3", *sim);
    SetFirmwareDate(rig, 7, 12, 25);
    rig.state.firmwareDateKnown = c.dateKnown;
    rig.state.infoBlock[0] = c.modelIndex;

    rig.ops.CheckVersion();

    EXPECT_EQ(rig.state.logText, c.log);
    EXPECT_EQ(rig.state.logLineCount, c.lineCount);
    EXPECT_TRUE(rig.ops.LastCheckSucceeded());
    ExpectControlsBack(rig);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionInfoOnly,
    ::testing::Values(InfoCase{"DateUnknown", 0, 2, "KVM Infomation\nModel : PZN442 \nVersion : 07-05-03", 2},
                      // Model index 10 hides the firmware half, the comparison still follows.
                      InfoCase{"ModelIndexTen", 1, 10,
                               "KVM Infomation\nModel : PZN442 \nVersion : 07-05-03" + kNewerFirmware, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionCheck, ModelTextWithoutZeroInTheReplyEndsAtTheReply)
{
    // 6 + 300 bytes: cut at 256, so no terminating zero arrives.
    auto sim = StartSim(SwitchDated(1, 2, 3, std::string(300, 'M')));
    KvmRig rig;
    rig.Attach("COM3", *sim);

    rig.ops.CheckVersion();

    EXPECT_EQ(rig.state.logText, "KVM Infomation\nModel : " + std::string(250, 'M') + " \nVersion : 01-02-03");
    EXPECT_TRUE(rig.ops.LastCheckSucceeded());
}

// A switch that answers every 01 with its code alone: enough for a probe,
// but a version reply without date bytes cannot be compared with anything.
TEST(VersionCheck, ReplyWithoutDatesIsNoVersion)
{
    PtyFarEnd farEnd;
    std::atomic<bool> quit{false};
    std::thread answer([&] {
        while (!quit) {
            if (farEnd.Receive(2, std::chrono::milliseconds(50)) == std::vector<std::uint8_t>{0x01, 0xFF})
                farEnd.Send({0xF2});
        }
    });
    KvmRig rig;
    rig.table.Map("COM3", farEnd.DevicePath());
    rig.services.SetPortSelection("COM3");
    SetFirmwareDate(rig, 7, 12, 25);

    rig.ops.CheckVersion();
    quit = true;
    answer.join();

    EXPECT_FALSE(rig.ops.LastCheckSucceeded());
    EXPECT_EQ(rig.services.Status(), "Couldn't find KVM");
    EXPECT_TRUE(EndsWith(rig.state.logText, "Checking KVM version.." + std::string(12, '.') + "[ Failed ]\n"))
        << rig.state.logText;
    ExpectControlsBack(rig);
}

TEST(VersionCheck, AutoScanNamesThePortWhereTheSwitchAnswered)
{
    auto sim = StartSim();
    KvmRig rig;
    rig.Map("COM11", *sim);
    rig.services.SetPortSelection("AUTO");
    // Left over from an earlier scan; the check clears it before probing.
    std::snprintf(rig.state.scanPortName, sizeof rig.state.scanPortName, "COM12");

    rig.ops.CheckVersion();

    EXPECT_STREQ(rig.state.scanPortName, "COM11");
    EXPECT_EQ(rig.services.Status(), "KVM version read from COM11");
    EXPECT_TRUE(rig.ops.LastCheckSucceeded());
    EXPECT_EQ(rig.state.portName, "AUTO");
    ExpectControlsBack(rig);
}

struct NoSwitchCase {
    const char* name;
    bool silentCom1;
    std::string log;
};

void PrintTo(const NoSwitchCase& c, std::ostream* os)
{
    *os << c.name;
}

class VersionNoSwitch : public ::testing::TestWithParam<NoSwitchCase> {};

TEST_P(VersionNoSwitch, ScanThatFoundNothing)
{
    const NoSwitchCase& c = GetParam();
    SwitchSimConfig silent;
    silent.silent = true;
    auto sim = StartSim(silent);
    KvmRig rig;
    if (c.silentCom1)
        rig.Map("COM1", *sim);
    rig.services.SetPortSelection("AUTO");

    rig.ops.CheckVersion();

    EXPECT_EQ(rig.state.logText, c.log);
    EXPECT_EQ(rig.services.Status(), "Assign COM number and try again.");
    EXPECT_FALSE(rig.ops.LastCheckSucceeded());
    ExpectControlsBack(rig);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, VersionNoSwitch,
    ::testing::Values(NoSwitchCase{"NoPortOpens", false,
                                   kDashes56 + "\nTotal available COM : 0\nThere is no KVM detected on COM ports.\n" +
                                       kDashes56 + "\nNo Available COM port on your computer."},
                      NoSwitchCase{"OneSilentPort", true,
                                   kDashes56 + "\nTotal available COM : 1\nThere is no KVM detected on COM ports.\n" +
                                       kDashes56 + "\nThe passed COM is not connected with KVM\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NoResponseCase {
    const char* name;
    bool silentSwitch; // a switch that never answers on COM5; else no COM5 at all
    std::string log;
    std::vector<std::string> statuses; // the status line keeps the probe's last text
    int probes;
};

void PrintTo(const NoResponseCase& c, std::ostream* os)
{
    *os << c.name;
}

class VersionNoResponse : public ::testing::TestWithParam<NoResponseCase> {};

TEST_P(VersionNoResponse, NamedPortSilentOrMissing)
{
    const NoResponseCase& c = GetParam();
    SwitchSimConfig silent;
    silent.silent = true;
    auto sim = StartSim(silent);
    KvmRig rig;
    if (c.silentSwitch)
        rig.Map("COM5", *sim);
    rig.services.SetPortSelection("COM5");

    rig.ops.CheckVersion();

    EXPECT_EQ(rig.state.logText, c.log);
    EXPECT_EQ(rig.services.Statuses(), c.statuses);
    EXPECT_EQ(rig.state.logLineCount, 0);
    EXPECT_EQ(sim->Report().probes, c.probes);
    EXPECT_FALSE(rig.ops.LastCheckSucceeded());
    ExpectControlsBack(rig);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, VersionNoResponse,
    ::testing::Values(NoResponseCase{"SilentPort", true,
                                     "Checking COM5 ...................[ Passed ]\n"
                                     "No KVM response.\nMake sure KVM is connected to COM port\nAnd try Auto scan mode.",
                                     {"COM5 is no KVM respondse."}, 4},
                      // Never probed, and told the same; the command line's cause says why.
                      NoResponseCase{"PortDoesNotOpen", false,
                                     "Checking COM5 ...................[ Failed ]\n"
                                     "No KVM response.\nMake sure KVM is connected to COM port\nAnd try Auto scan mode.",
                                     {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct QueryCase {
    const char* name;
    int answeredAgainFrom; // the switch's request count at which it answers again; 0: never
    int requests;
    bool accepted;
};

void PrintTo(const QueryCase& c, std::ostream* os)
{
    *os << c.name;
}

class VersionQuery : public ::testing::TestWithParam<QueryCase> {};

// The switch answers the probe, then misses version requests. Every request
// writes two dots before it and two after a miss; a third miss ends it.
TEST_P(VersionQuery, UpToThreeRequests)
{
    const QueryCase& c = GetParam();
    SwitchSimConfig config = SwitchDated(7, 5, 3);
    config.answerProbeUntil = 1;
    config.answerProbeAgainFrom = c.answeredAgainFrom;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Attach("COM3", *sim);

    rig.ops.CheckVersion();

    const std::string probed = "Checking COM3 ...................[   OK   ]\n";
    EXPECT_EQ(sim->Report().probes, 1 + c.requests);
    EXPECT_EQ(rig.ops.LastCheckSucceeded(), c.accepted);
    ExpectControlsBack(rig);
    if (!c.accepted) {
        EXPECT_EQ(rig.state.logText, probed + "Checking KVM version.." + std::string(12, '.') + "[ Failed ]\n");
        EXPECT_EQ(rig.services.Status(), "Couldn't find KVM");
        EXPECT_EQ(rig.state.logLineCount, 2);
        return;
    }
    // The verdict was shown before the display replaced the log.
    const std::string verdict = probed + "Checking KVM version.." + std::string(6, '.') + "[   OK   ]";
    bool shown = false;
    for (const auto& snapshot : rig.services.Snapshots())
        shown = shown || snapshot.log == verdict;
    EXPECT_TRUE(shown) << verdict;
    EXPECT_EQ(rig.state.logText, "KVM Infomation\nModel : PZN442 \nVersion : 07-05-03");
    EXPECT_EQ(rig.services.Status(), "KVM version read from COM3");
}

// Each request costs its 800 ms pause and up to 200 ms of waiting.
INSTANTIATE_TEST_SUITE_P(Cases, VersionQuery,
                         ::testing::Values(QueryCase{"NoAcceptedReply", 0, 3, false},
                                           QueryCase{"AcceptedAtTheSecondRequest", 3, 2, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
