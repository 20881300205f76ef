// kvm-upgrade-cli.exe under Wine against the simulated switch on a Linux
// pseudo-terminal, reached as a COM port of Wine's. Every run that claims
// success is checked against the bytes the switch stored.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/wine/WineHost.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;
using Bytes = FirmwareTestFiles::Bytes;
using F = FirmwareTestFiles;

// COM numbers for the named-port runs, as --map COM3=\\.\COMn: above the
// twelve an AUTO scan tries, so that runs side by side never meet.
constexpr int kNamedFrom = 20;

std::string Cli()
{
    return WineHost::Program("cli/kvm-upgrade-cli.exe");
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class WineCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() { WineHost::Prepare(); }
};

// The three outcomes of a comparison, on a port named through --map.
TEST_F(WineCli, CheckComparesTheSwitchWithTheFile)
{
    const struct {
        std::uint8_t date[3];
        const char* verdict;
        int exitCode; // 0 only when the file is newer
    } cases[] = {
        {{7, 12, 25}, "The KVM firmware is up to date.", 3},
        {{9, 1, 25}, "A newer version of KVM firmware is available.", 0},
        {{7, 12, 26}, "KVM version is newer than firmware.", 3},
    };
    FirmwareTestFiles files;
    const std::string path = WineHost::WindowsPath(files.Write("fw.bin", F::RecordedImage(512)));
    for (const auto& c : cases) {
        SwitchSimConfig config;
        std::copy(std::begin(c.date), std::end(c.date), config.date);
        SwitchSim sim(config);
        ASSERT_TRUE(sim.Start());
        WineComLink link(sim.DevicePath(), kNamedFrom);
        const auto result =
            WineHost::Run(Cli(), {"--map", "COM3=" + link.Device(), "check", "--port", "COM3", "--file", path});
        SCOPED_TRACE(WineHost::Trace(result));
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE(Contains(result.out, "Checking COM3 ...................[   OK   ]"));
        EXPECT_TRUE(Contains(result.out, c.verdict));
        EXPECT_TRUE(Contains(result.err, "KVM version read from COM3"));
    }
}

// AUTO, with no --map: the system's own COM1..COM12 are scanned, and the
// switch answers on the one linked to it.
TEST_F(WineCli, AutoFindsTheSwitchAmongTheSystemsPorts)
{
    SwitchSim sim;
    ASSERT_TRUE(sim.Start());
    WineComLink link(sim.DevicePath(), 5);
    ASSERT_LE(link.Number(), 12) << "no COM number of the twelve is free";
    const auto result = WineHost::Run(Cli(), {"check"});
    SCOPED_TRACE(WineHost::Trace(result));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Contains(result.out, "Opening " + link.Name() + " "));
    EXPECT_TRUE(Contains(result.err, "KVM version read from " + link.Name()));

}

// Ctrl-C reaches the console's control handler (Wine turns SIGINT into
// CTRL_C_EVENT): the first one during the transfer only warns, the second
// aborts with 130, as on Linux.
TEST_F(WineCli, CtrlCDuringTheTransferWarnsThenAborts)
{
    SwitchSimConfig config;
    config.flashWriteDelay = 50ms; // 512 blocks: the transfer outlasts the test's steps
    SwitchSim sim(config);
    ASSERT_TRUE(sim.Start());
    WineComLink link(sim.DevicePath(), kNamedFrom);
    FirmwareTestFiles files;
    const std::string path = WineHost::WindowsPath(files.Write("fw.bin", F::RecordedImage(131072)));
    ChildProcess child(WineHost::Command(
        Cli(), {"--map", "COM3=" + link.Device(), "upgrade", "--port", "COM3", "--yes", path}));
    ASSERT_TRUE(child.WaitForErr("Progress: 10 %", 60s)) << child.ErrSoFar();
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForErr("press Ctrl-C again to abort it", 30s)) << child.ErrSoFar();
    child.Signal(SIGINT);
    const auto result = child.Wait(30s);
    SCOPED_TRACE(WineHost::Trace(result));
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_TRUE(Contains(result.err, "Upgrade aborted"));
    EXPECT_FALSE(Contains(result.out + result.err, "Upgrade complete!"));
}

// The same exit codes as on Linux for what needs no switch: 2 for a usage
// error or a file that may not be sent (refused before any port is opened).
TEST_F(WineCli, ExitCodesWithoutASwitch)
{
    FirmwareTestFiles files;
    const std::string empty = WineHost::WindowsPath(files.Write("r315-07-11-30.bin", {}));
    const std::string zeros = WineHost::WindowsPath(files.Write("r315-07-11-30.img", F::Filler(512, 0)));
    const std::string good = WineHost::WindowsPath(files.Write("fw.bin", F::RecordedImage(512)));
    const std::string recordLess = files.PathOf("hx5tra-7-12-25.bin");
    ASSERT_EQ(ChildProcess({KVM_MAKE_FIRMWARE_PATH, "--no-record", "--size", "512", recordLess}).Wait().exitCode, 0);
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* text; // in stdout or stderr
    } cases[] = {
        {{"info", good}, 0, "Model : PZN442"},
        // No info record: model and date from the name after the path's last "\".
        {{"info", WineHost::WindowsPath(recordLess)}, 0, "Model : PZN442\nVersion : 7-12-25"},
        {{"info", empty}, 2, "File is empty."},
        {{"info", zeros}, 2, "File holds only zero bytes."},
        // A device is never read as a file: NUL here, a COM port just as well.
        {{"info", "NUL"}, 2, "not a regular file"},
        {{"upgrade", "--yes", "--port", "COM13", good}, 2, "COM13"},
        {{"info", WineHost::WindowsPath(files.PathOf("."))}, 2, "is a directory"},
        {{"check", "--bogus"}, 2, "--bogus"},
        {{"--version"}, 0, "1.0.0.4"},
        // A port the user maps is listed whether or not the system lists it.
        {{"--map", "COM3=\\\\.\\COM99", "--list-ports"}, 0,
         "COM3  \\\\.\\COM99  (not among the system's serial ports)"},
    };
    for (const auto& c : cases) {
        const auto result = WineHost::Run(Cli(), c.args);
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + "\n" + WineHost::Trace(result));
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE(Contains(result.out + result.err, c.text));
    }
}

// The Windows file maker writes the very bytes the Linux one writes: no
// text-mode translation of a 0x0A anywhere in the image.
TEST_F(WineCli, MakeFirmwareWritesWhatLinuxWrites)
{
    FirmwareTestFiles files;
    const std::vector<std::string> options{"--size", "131072", "--model-index", "2", "--date", "7-12-25",
                                           "--seed", "10"};
    std::vector<std::string> native{KVM_MAKE_FIRMWARE_PATH};
    native.insert(native.end(), options.begin(), options.end());
    native.push_back(files.PathOf("linux.bin"));
    ASSERT_EQ(ChildProcess(native).Wait().exitCode, 0);
    std::vector<std::string> args = options;
    args.push_back(WineHost::WindowsPath(files.PathOf("windows.bin")));
    const auto result = WineHost::Run(WineHost::Program("tools/kvm-make-firmware.exe"), args);
    ASSERT_EQ(result.exitCode, 0) << WineHost::Trace(result);
    const Bytes made = F::ReadBytes(files.PathOf("windows.bin"));
    EXPECT_EQ(made.size(), 131072u);
    EXPECT_TRUE(made == F::ReadBytes(files.PathOf("linux.bin")));
}

struct UpgradeCase {
    const char* name;
    std::size_t size;
    std::function<void(SwitchSimConfig&)> fault;
    int exitCode; // 0: the whole image stored; else the cause's status
    const char* logText; // in stdout, or empty
};

void PrintTo(const UpgradeCase& c, std::ostream* os)
{
    *os << c.name;
}

class WineUpgrade : public ::testing::TestWithParam<UpgradeCase> {
protected:
    static void SetUpTestSuite() { WineHost::Prepare(); }
};

// Success only with the whole image stored; every failure exits non-zero
// and never says "Upgrade complete!".
TEST_P(WineUpgrade, SuccessOnlyWithTheWholeImageStored)
{
    const UpgradeCase& c = GetParam();
    SwitchSimConfig config;
    c.fault(config);
    SwitchSim sim(config);
    ASSERT_TRUE(sim.Start());
    WineComLink link(sim.DevicePath(), kNamedFrom);
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(c.size);
    const std::string path = WineHost::WindowsPath(files.Write("fw.bin", image));

    const auto result = WineHost::Run(
        Cli(), {"--verbose", "--map", "COM3=" + link.Device(), "upgrade", "--port", "COM3", "--yes", path});
    SCOPED_TRACE(WineHost::Trace(result));
    const bool claimed = Contains(result.out + result.err, "Upgrade complete!");
    EXPECT_EQ(result.exitCode, c.exitCode);
    if (c.exitCode == 0) {
        EXPECT_TRUE(claimed);
        ASSERT_TRUE(sim.WaitForEndOfImage(5s));
        const SwitchSimReport report = sim.Report();
        EXPECT_TRUE(report.image == image) << "stored " << report.image.size() << " of " << image.size();
    } else {
        EXPECT_FALSE(claimed);
    }
    if (*c.logText != '\0') {
        EXPECT_TRUE(Contains(result.out, c.logText)) << c.logText;
    }
    // The upgrade's own verdict line ends the log of every run that got to it.
    if (c.exitCode != 0 && Contains(result.out, "Upgrading in progress")) {
        EXPECT_TRUE(Contains(result.out, "[ Failed ]"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WineUpgrade,
    ::testing::Values(
        UpgradeCase{"WholeLargestImage", 131072, [](SwitchSimConfig&) {}, 0,
                    "Upgrading in progress............[   OK   ]"},
        UpgradeCase{"Silent", 1000, [](SwitchSimConfig& c) { c.silent = true; }, 6, "Connecting to KVM................[ Failed ]"},
        UpgradeCase{"FourRejections", 1000,
                    [](SwitchSimConfig& c) {
                        c.rejectBlock = 1;
                        c.rejectCount = 4;
                    },
                    0, ""},
        UpgradeCase{"FiveRejections", 1000,
                    [](SwitchSimConfig& c) {
                        c.rejectBlock = 1;
                        c.rejectCount = 5;
                    },
                    7, "Upgrading in progress"},
        UpgradeCase{"SilentFromTheThirdBlock", 1000, [](SwitchSimConfig& c) { c.silentFromBlock = 2; }, 7,
                    ""},
        UpgradeCase{"HangsUpMidImage", 4096, [](SwitchSimConfig& c) { c.hangupAfterBlock = 3; }, 7,
                    "Upgrading in progress"},
        UpgradeCase{"BabblesF0AfterGoAhead", 1000, [](SwitchSimConfig& c) { c.babbleAfterGoAhead = 0xF0; },
                    7, ""},
        UpgradeCase{"HangsUpAfterTheLastAck", 1000, [](SwitchSimConfig& c) { c.hangUpAfterLastAck = true; },
                    7, ""},
        UpgradeCase{"NoiseBeforeReplies", 1000, [](SwitchSimConfig& c) { c.noiseBytes = 3; }, 6, ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
