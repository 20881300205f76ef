#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ostream>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "serial/WireProtocol.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

using namespace std::chrono_literals;
using WireProtocol::kBlockSilenceLimit;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const char kTimeout[] = "transmition timeout, upgrade fail.";

TEST(UpgradeButton, RefusesWithoutValidFile)
{
    KvmRig rig;
    rig.state.firmwareValid = 0;
    rig.state.blockSequence = 9;
    rig.state.retryCount = 3;
    rig.state.silentPortCount = 2;
    std::snprintf(rig.state.scanPortName, sizeof rig.state.scanPortName, "COM11");

    rig.ops.Upgrade();

    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Refused);
    EXPECT_EQ(rig.state.logText,
              "Usage:\n\t1.Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3.Click Upgrade button.");
    EXPECT_EQ(rig.services.Status(), "Please select firmware file.");
    EXPECT_EQ(rig.services.Calls(), (std::vector<std::string>{"status", "update"}));
    EXPECT_FALSE(rig.ops.WorkerRunning());
    // The counters are reset before the test of the file.
    EXPECT_EQ(rig.state.blockSequence, 0);
    EXPECT_EQ(rig.state.retryCount, 0);
    EXPECT_EQ(rig.state.silentPortCount, 0);
    EXPECT_STREQ(rig.state.scanPortName, "COM1");
}

TEST(UpgradeButton, CancelledConfirmationChangesNothingElse)
{
    KvmRig rig;
    rig.state.firmwareValid = 1;
    rig.state.logText = "before";
    rig.services.SetConfirmAnswer(false);

    rig.ops.Upgrade();

    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Cancelled);
    EXPECT_EQ(rig.services.Calls(), (std::vector<std::string>{"confirm"}));
    EXPECT_EQ(rig.services.Confirmations(),
              (std::vector<std::string>{"Confirm|During firmware upgrade, video, keyboard and mouse\n"
                                        "will be locked up before KVM reset."}));
    EXPECT_EQ(rig.state.logText, "before");
    EXPECT_FALSE(rig.ops.WorkerRunning());
}

struct BudgetCase {
    const char* name;
    std::chrono::milliseconds goAheadDelay; // picks the wait that receives the go-ahead
    int rejectBlock;
    int rejections;
    bool completes;
};

void PrintTo(const BudgetCase& c, std::ostream* os)
{
    *os << c.name;
}

class UpgradeRejectionBudget : public ::testing::TestWithParam<BudgetCase> {};

// A rejected block is sent again until retryCount passes 4. The first block
// starts from the number of the go-ahead wait that succeeded, every later
// block from 0.
TEST_P(UpgradeRejectionBudget, FailsOnTheRejectionPastTheBudget)
{
    const BudgetCase& c = GetParam();
    FirmwareTestFiles files;
    SwitchSimConfig config;
    config.goAheadDelay = c.goAheadDelay;
    config.rejectBlock = c.rejectBlock;
    config.rejectCount = c.rejections;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Attach("COM1", *sim);
    const std::string path = files.WriteImage("fw.bin", 768);
    rig.SelectFirmware(path);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    const SwitchSimReport report = sim->Report();
    if (c.completes) {
        ExpectCompleteRun(rig, *sim, FirmwareTestFiles::ReadBytes(path));
        EXPECT_EQ(report.blockFrames, 3 + c.rejections);
    } else {
        ExpectFailedRun(rig, sim.get(), kTimeout, "[ Failed ]");
        EXPECT_EQ(report.blockFrames, c.rejectBlock + c.rejections);
        EXPECT_EQ(report.blocksStored, c.rejectBlock);
        // Every attempt at 0 % writes a dot, the rejected ones too.
        const std::string dots(c.rejectBlock == 0 ? c.rejections : 1, '.');
        EXPECT_TRUE(EndsWith(rig.state.logText, "Upgrading in progress" + dots + "[ Failed ]")) << rig.state.logText;
        // The bar stays where the failing block left it.
        ASSERT_FALSE(rig.services.ProgressValues().empty());
        EXPECT_EQ(rig.services.ProgressValues().back(), c.rejectBlock * 256 * 100 / 768);
    }
}

// The go-ahead wait lasts about 2.4 s and is followed by a 500 ms pause: a
// go-ahead 3.85 s after the model header arrives in the second wait, one
// 6.75 s after it in the third, each well inside its window.
INSTANTIATE_TEST_SUITE_P(
    Cases, UpgradeRejectionBudget,
    ::testing::Values(BudgetCase{"FirstWaitThreeRejections", 0ms, 0, 3, true},
                      BudgetCase{"FirstWaitFourRejections", 0ms, 0, 4, false},
                      BudgetCase{"SecondWaitTwoRejections", 3850ms, 0, 2, true},
                      BudgetCase{"SecondWaitThreeRejections", 3850ms, 0, 3, false},
                      BudgetCase{"ThirdWaitOneRejection", 6750ms, 0, 1, true},
                      BudgetCase{"ThirdWaitTwoRejections", 6750ms, 0, 2, false},
                      BudgetCase{"LaterBlockFourRejections", 0ms, 1, 4, true},
                      BudgetCase{"LaterBlockFiveRejections", 0ms, 1, 5, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct SilenceCase {
    const char* name;
    int silentFromBlock;
    int hangupAfterBlock;
};

void PrintTo(const SilenceCase& c, std::ostream* os)
{
    *os << c.name;
}

class UpgradeSilence : public ::testing::TestWithParam<SilenceCase> {};

// A switch that stops answering blocks, or whose line goes away, must not
// keep the run resending for ever with the controls disabled.
TEST_P(UpgradeSilence, EndsAfterTheSilenceLimitOrTheHangUp)
{
    const SilenceCase& c = GetParam();
    FirmwareTestFiles files;
    SwitchSimConfig config;
    config.silentFromBlock = c.silentFromBlock;
    config.hangupAfterBlock = c.hangupAfterBlock;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Attach("COM1", *sim);
    rig.SelectFirmware(files.WriteImage("fw.bin", 768));

    const auto start = Clock::now();
    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);
    const auto elapsed = Clock::now() - start;

    ExpectFailedRun(rig, sim.get(), kTimeout, "[ Failed ]");
    // A line that has hung up is given up at once: it never answers again.
    if (c.hangupAfterBlock >= 0)
        EXPECT_LT(elapsed, kBlockSilenceLimit);
    else
        EXPECT_GE(elapsed, kBlockSilenceLimit);
    EXPECT_LT(elapsed, kBlockSilenceLimit + 30s);
    const SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.blocksStored, 1);
    // A silent attempt takes its full reply wait even where the line answers
    // every read at once: about 75 attempts in 3 s, not a spin of thousands.
    EXPECT_LT(rig.services.Snapshots().size(), 500u);
    if (c.hangupAfterBlock >= 0)
        return; // nothing reaches a line that has gone
    // The unanswered block went out again, the same each time.
    const auto blocks = BlockFrames(report);
    ASSERT_GE(blocks.size(), 2u);
    for (std::size_t i = 1; i < blocks.size(); ++i)
        EXPECT_EQ(blocks[i], blocks[1]);
    EXPECT_EQ(blocks[1][1], 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpgradeSilence,
                         ::testing::Values(SilenceCase{"SwitchFallsSilent", 1, -1},
                                           SilenceCase{"LineHangsUp", -1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// No go-ahead after the second model header: three waits, then the run
// fails without a single block. A second press of Upgrade or Check Version
// meanwhile must not touch the run.
TEST(UpgradeHandshake, MissingGoAheadAndNoSecondRunMeanwhile)
{
    FirmwareTestFiles files;
    SwitchSimConfig config;
    config.noGoAhead = true;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Attach("COM1", *sim);
    rig.SelectFirmware(files.WriteImage("fw.bin", 768), 4, 2);

    rig.ops.Upgrade();
    // The worker waits for seconds on the go-ahead; it is still running here.
    EXPECT_TRUE(rig.ops.WorkerRunning());
    rig.ops.Upgrade();
    rig.ops.CheckVersion();
    EXPECT_FALSE(rig.ops.LastCheckSucceeded());
    EXPECT_EQ(rig.services.CallCount("confirm"), 1);
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    ExpectFailedRun(rig, sim.get(), kTimeout, "Connecting to KVM................[ Failed ]");
    const SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.blockFrames, 0);
    EXPECT_EQ(report.frames, (std::vector<Bytes>{{0x01}, {0x01}, {0x02, 4, 0}, {0x02, 2, 0}, {0x01}, {0x02, 4, 0}}));
}

// The worker starts whatever the probe found; on the closed port it skips
// the re-search and ends in the go-ahead time-out after the three pauses.
TEST(UpgradeHandshake, ProbeThatFoundNothing)
{
    FirmwareTestFiles files;
    KvmRig rig;
    rig.SelectFirmware(files.WriteImage("fw.bin", 768));
    rig.services.SetPortSelection("COM7");

    const auto start = Clock::now();
    rig.ops.Upgrade();
    EXPECT_EQ(rig.state.probeResult, kProbeNamedPortFailed);
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);
    const auto elapsed = Clock::now() - start;

    const std::string probeLog = "Checking COM7 ...................[ Failed ]\n";
    ExpectFailedRun(rig, nullptr, kTimeout, probeLog + "Connecting to KVM................[ Failed ]");
    EXPECT_EQ(rig.services.Statuses(), (std::vector<std::string>{"Searching KVM..Plesase Wait", kTimeout}));
    // The probe's verdict was shown before the worker wrote anything.
    const auto snapshots = rig.services.Snapshots();
    ASSERT_FALSE(snapshots.empty());
    EXPECT_EQ(snapshots.front().log, probeLog);
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LT(elapsed, 30s);
}

struct ResearchCase {
    const char* name;
    int answeredAgainFrom; // the switch's probe count at which it answers again; 0: never
    std::size_t researchProbes;
    bool completes;
};

void PrintTo(const ResearchCase& c, std::ostream* os)
{
    *os << c.name;
}

class UpgradeResearch : public ::testing::TestWithParam<ResearchCase> {};

// After a named port answered the button's probe, the worker probes it once
// more, up to three times, before any header goes out. The switch answers
// the button's probe at once, so the worker's own attempts are what counts.
TEST_P(UpgradeResearch, GivesTheSwitchThreeProbes)
{
    const ResearchCase& c = GetParam();
    FirmwareTestFiles files;
    SwitchSimConfig config;
    config.answerProbeUntil = 1;
    config.answerProbeAgainFrom = c.answeredAgainFrom;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Attach("COM1", *sim);
    const std::string path = files.WriteImage("fw.bin", 300);
    rig.SelectFirmware(path, 3, 2);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.state.probeResult, kProbeFoundOnNamedPort);
    const int exitCode = rig.ops.WaitForWorker();

    const SwitchSimReport report = sim->Report();
    const std::vector<Bytes> probes(1 + c.researchProbes, Bytes{0x01});
    ASSERT_GE(report.frames.size(), probes.size());
    EXPECT_EQ(std::vector<Bytes>(report.frames.begin(), report.frames.begin() + probes.size()), probes);
    if (c.completes) {
        EXPECT_EQ(exitCode, 1);
        ExpectCompleteRun(rig, *sim, FirmwareTestFiles::ReadBytes(path));
        ASSERT_GT(report.frames.size(), probes.size());
        EXPECT_EQ(report.frames[probes.size()], (Bytes{0x02, 3, 0x00}));
        return;
    }
    EXPECT_EQ(exitCode, 0);
    ExpectFailedRun(rig, sim.get(), "Couldn't find KVM", "Connecting to KVM................[ Failed ]");
    EXPECT_EQ(rig.state.logText,
              "Checking COM1 ...................[   OK   ]\nConnecting to KVM................[ Failed ]");
    EXPECT_EQ(rig.services.Statuses(), (std::vector<std::string>{"Searching KVM..Plesase Wait", "Couldn't find KVM"}));
    EXPECT_EQ(rig.state.logLineCount, 1);
    EXPECT_EQ(rig.state.retryCount, 3);
    EXPECT_TRUE(rig.services.ProgressValues().empty());
    // No header, no block: the switch saw the probes only.
    EXPECT_EQ(report.frames, probes);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpgradeResearch,
                         ::testing::Values(ResearchCase{"NoReplyToThreeProbes", 0, 3, false},
                                           ResearchCase{"AnsweredAtTheSecondProbe", 3, 2, true},
                                           ResearchCase{"AnsweredAtTheThirdProbe", 4, 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A switch that never says it is ready still gets the second model header
// after the three ready probes, and the run goes on when the go-ahead
// follows. Three full waits of the handshake: about 7 s.
TEST(UpgradeHandshake, NoReplyToTheReadyProbes)
{
    FirmwareTestFiles files;
    SwitchSimConfig config;
    config.noReadyReply = true;
    auto sim = StartSim(config);
    KvmRig rig;
    rig.Attach("COM1", *sim);
    const std::string path = files.WriteImage("fw.bin", 300);
    rig.SelectFirmware(path, 3, 2);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    ExpectCompleteRun(rig, *sim, FirmwareTestFiles::ReadBytes(path));
    const std::vector<Bytes> handshake = {{0x01}, {0x01}, {0x02, 3, 0}, {0x02, 2, 0},
                                          {0x01}, {0x01}, {0x01}, {0x02, 3, 0}};
    const SwitchSimReport report = sim->Report();
    ASSERT_GE(report.frames.size(), handshake.size());
    EXPECT_EQ(std::vector<Bytes>(report.frames.begin(), report.frames.begin() + handshake.size()), handshake);
    EXPECT_EQ(BlockFrames(report).size(), 2u);
}

struct FileCase {
    const char* name;
    std::function<std::string(const FirmwareTestFiles&)> makeFile; // the path, as it was checked
    const char* status;
    // What happens to the file between the check and the run, if anything.
    std::function<void(const std::string&)> afterCheck = nullptr;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.name;
}

class UpgradeFileProblem : public ::testing::TestWithParam<FileCase> {};

// The file is read again when the run starts. Whatever is wrong with it by
// then, nothing is sent to the switch.
TEST_P(UpgradeFileProblem, SendsNothing)
{
    const FileCase& c = GetParam();
    FirmwareTestFiles files;
    auto sim = StartSim();
    KvmRig rig;
    rig.Attach("COM1", *sim);
    const std::string path = c.makeFile(files);
    rig.SelectFirmware(path);
    if (c.afterCheck)
        c.afterCheck(path);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 0);

    ExpectFailedRun(rig, sim.get(), c.status,
                    "Checking COM1 ...................[   OK   ]\nConnecting to KVM................");
    EXPECT_LE(rig.state.imageLength, kImageCapacity);
    // Only the probe reached the switch.
    EXPECT_FALSE(sim->WaitForFrames(2, 300ms));
    EXPECT_EQ(sim->Report().frames, (std::vector<Bytes>{{0x01}}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, UpgradeFileProblem,
    ::testing::Values(
        FileCase{"Missing", [](const FirmwareTestFiles& f) { return f.PathOf("gone.bin"); },
                 "Error: File can't be opened."},
        // Opens, but every read fails: no empty image may pass for the file.
        FileCase{"ReadFails",
                 [](const FirmwareTestFiles& f) {
                     std::filesystem::create_directory(f.PathOf("folder.bin"));
                     return f.PathOf("folder.bin");
                 },
                 "Error: File can't be opened."},
        FileCase{"GrownPastTheBuffer",
                 [](const FirmwareTestFiles& f) {
                     // A good CRC over all 131073 bytes: only the size is wrong.
                     return f.WriteImage("big.bin", kImageCapacity + 1);
                 },
                 "Error: File is over 131072 bytes."},
        FileCase{"ChangedAfterSelection",
                 [](const FirmwareTestFiles& f) {
                     Bytes bytes = FirmwareTestFiles::ReadBytes(f.WriteImage("fw.bin", 768));
                     bytes[100] ^= 0x01;
                     return f.Write("fw.bin", bytes);
                 },
                 "Error: File has changed, CRC error."},
        // A pipe is read once, by the check: read again it is empty.
        FileCase{"EmptiedAfterCheck", [](const FirmwareTestFiles& f) { return f.WriteImage("fw.bin", 768); },
                 "Error: File is empty.",
                 [](const std::string& path) { std::filesystem::resize_file(path, 0); }},
        // Another good file is still not the one that was checked.
        FileCase{"ReplacedByAnotherGoodFile",
                 [](const FirmwareTestFiles& f) { return f.WriteImage("fw.bin", 768, 1); },
                 "Error: File has changed, CRC error.",
                 [](const std::string& path) {
                     FirmwareTestFiles other;
                     std::filesystem::copy_file(other.WriteImage("other.bin", 768, 2), path,
                                                std::filesystem::copy_options::overwrite_existing);
                 }},
        FileCase{"Empty", [](const FirmwareTestFiles& f) { return f.Write("fw.bin", {}); },
                 "Error: File is empty."},
        FileCase{"AllZero", [](const FirmwareTestFiles& f) { return f.Write("fw.bin", Bytes(1024, 0)); },
                 "Error: File holds only zero bytes."},
        FileCase{"DevNull", [](const FirmwareTestFiles&) { return std::string("/dev/null"); },
                 "Error: File can't be opened."},
        // A FIFO without a writer: refused at once, not waited on.
        FileCase{"Fifo",
                 [](const FirmwareTestFiles& f) {
                     ::mkfifo(f.PathOf("fifo").c_str(), 0600);
                     return f.PathOf("fifo");
                 },
                 "Error: File can't be opened."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpgradeFileProblem, GrownFileNeverWritesPastTheBuffer)
{
    FirmwareTestFiles files;
    KvmRig rig;
    rig.SelectFirmware(files.WriteImage("big.bin", kImageCapacity + 3000));
    rig.services.SetPortSelection("COM1");

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 0);

    EXPECT_EQ(rig.services.Status(), "Error: File is over 131072 bytes.");
    // The fields after the buffer are intact.
    EXPECT_EQ(rig.state.imageLength, kImageCapacity);
    EXPECT_EQ(rig.state.bytesRemaining, kImageCapacity);
}

} // namespace
