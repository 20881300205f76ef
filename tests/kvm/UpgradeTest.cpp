#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using DotSteps = std::vector<std::pair<int, int>>; // (percent, dots written at it)

// Where the progress dots were written: at which percentages during the
// transfer, and how many the completion added.
struct DotProfile {
    DotSteps steps;
    int atCompletion = 0;
};

DotProfile ProfileDots(const std::vector<ServiceSnapshot>& snapshots)
{
    const std::string marker = "Upgrading in progress";
    std::map<int, int> dotsAtPercent;
    int completionDots = 0;
    for (const auto& s : snapshots) {
        const auto pos = s.log.rfind(marker);
        if (pos == std::string::npos)
            continue;
        int dots = 0;
        for (auto i = pos + marker.size(); i < s.log.size() && s.log[i] == '.'; ++i)
            ++dots;
        if (s.status == "Do not remove cable or power..")
            dotsAtPercent[s.progress] = dots;
        else if (s.status == "Upgrade complete!")
            completionDots = dots;
    }
    DotProfile profile;
    int before = 0;
    for (const auto& [percent, dots] : dotsAtPercent) {
        if (dots > before)
            profile.steps.emplace_back(percent, dots - before);
        before = dots;
    }
    profile.atCompletion = completionDots - before;
    return profile;
}

// The frames of the handshake: the probe (and, after a named port, the
// re-search), model header, family header, ready probe, model header again.
std::vector<Bytes> HandshakeFrames(bool namedPort, std::uint8_t modelByte, std::uint8_t family)
{
    std::vector<Bytes> frames = {{0x01}};
    if (namedPort)
        frames.push_back({0x01});
    frames.push_back({0x02, modelByte, 0x00});
    frames.push_back({0x02, family, 0x00});
    frames.push_back({0x01});
    frames.push_back({0x02, modelByte, 0x00});
    return frames;
}

// Every block carries 256 bytes but the last; sequence numbers count from 0
// and wrap after 255; each frame is the file's slice at its offset.
void ExpectBlocksOfFile(const std::vector<Bytes>& blocks, const Bytes& file)
{
    const std::size_t expectedBlocks = (file.size() + 255) / 256;
    ASSERT_EQ(blocks.size(), expectedBlocks);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t offset = i * 256;
        const std::size_t length = std::min<std::size_t>(256, file.size() - offset);
        ASSERT_EQ(blocks[i].size(), length + 2) << "block " << i;
        EXPECT_EQ(blocks[i][1], static_cast<std::uint8_t>(i % 256)) << "block " << i;
        EXPECT_TRUE(std::equal(blocks[i].begin() + 2, blocks[i].end(), file.begin() + offset)) << "block " << i;
    }
}

struct TransferCase {
    const char* name;
    std::size_t size;
    std::uint8_t modelIndex;
    std::uint8_t family;
    const char* selection;
    DotSteps dots;
    int dotsAtCompletion;
};

void PrintTo(const TransferCase& c, std::ostream* os)
{
    *os << c.name;
}

class UpgradeTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(UpgradeTransfer, SendsTheFileAndReportsCompletion)
{
    const TransferCase& c = GetParam();
    FirmwareTestFiles files;
    auto sim = StartSim();
    KvmRig rig;
    rig.Map("COM1", *sim);
    const std::string path = files.WriteImage("fw.bin", c.size);
    rig.SelectFirmware(path, c.modelIndex, c.family);
    rig.services.SetPortSelection(c.selection);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    const Bytes file = FirmwareTestFiles::ReadBytes(path);
    ExpectCompleteRun(rig, *sim, file);
    const SwitchSimReport report = sim->Report();

    const bool named = std::string(c.selection) != "AUTO";
    const std::uint8_t modelByte = c.modelIndex != 0 ? c.modelIndex : 0x01;
    const std::vector<Bytes> handshake = HandshakeFrames(named, modelByte, c.family);
    ASSERT_GE(report.frames.size(), handshake.size());
    EXPECT_EQ(std::vector<Bytes>(report.frames.begin(), report.frames.begin() + handshake.size()), handshake);
    const auto blocks = BlockFrames(report);
    // Nothing but blocks between the handshake and the end-of-image frame.
    EXPECT_EQ(report.frames.size(), handshake.size() + blocks.size() + 1);
    ExpectBlocksOfFile(blocks, file);

    const DotProfile dots = ProfileDots(rig.services.Snapshots());
    EXPECT_EQ(dots.steps, c.dots);
    EXPECT_EQ(dots.atCompletion, c.dotsAtCompletion);
    EXPECT_EQ(rig.state.progressDots, 12);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UpgradeTransfer,
    ::testing::Values(TransferCase{"OneFullBlock", 256, 0, 1, "COM1", {{0, 1}}, 11},
                      TransferCase{"FullBlockAndOneByte", 257, 3, 2, "COM1", {{0, 1}}, 11},
                      TransferCase{"ThreeBlocks", 768, 3, 1, "AUTO", {{0, 1}}, 11},
                      TransferCase{"TwentyBlocks", 5120, 0, 2, "COM1",
                                   {{0, 1}, {15, 1}, {30, 1}, {45, 1}, {60, 1}, {75, 1}, {90, 1}}, 5}),
    [](const auto& info) { return std::string(info.param.name); });

// The largest file: 512 blocks whose sequence numbers run 0 to 255 twice.
// One run (about 12 s of reply silences) serves every check on it.
TEST(UpgradeLargest, FullImageOf131072Bytes)
{
    FirmwareTestFiles files;
    auto sim = StartSim();
    KvmRig rig;
    rig.Attach("COM2", *sim);
    const std::string path = files.WriteImage("big.bin", kImageCapacity, 7);
    rig.SelectFirmware(path, 2, 1);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    const Bytes file = FirmwareTestFiles::ReadBytes(path);
    ExpectCompleteRun(rig, *sim, file);
    const SwitchSimReport report = sim->Report();
    ExpectBlocksOfFile(BlockFrames(report), file);
    ASSERT_EQ(report.storedSequences.size(), 512u);
    EXPECT_EQ(report.storedSequences[255], 255);
    EXPECT_EQ(report.storedSequences[256], 0);

    const DotProfile dots = ProfileDots(rig.services.Snapshots());
    EXPECT_EQ(dots.steps, (DotSteps{{0, 6}, {15, 5}, {30, 1}}));
    EXPECT_EQ(dots.atCompletion, 0);

    // The bar moves once per block, never backwards, 0 to 99 and then 100.
    const auto progress = rig.services.ProgressValues();
    ASSERT_EQ(progress.size(), 513u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress[511], 511 * 256 * 100 / 131072);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    EXPECT_EQ(rig.state.imageLength, kImageCapacity);
    EXPECT_EQ(rig.state.bytesSent, kImageCapacity);
    EXPECT_EQ(rig.state.bytesRemaining, 0u);
    EXPECT_EQ(rig.state.blockSequence, 0); // 512 blocks: back to 0
}

// A block whose acknowledgement comes too late is sent again, same number,
// same data; those silent attempts are not counted as rejections: the first
// block still takes its full budget of three rejections.
TEST(UpgradeResend, SilentAttemptsResendTheSameBlockUncounted)
{
    FirmwareTestFiles files;
    SwitchSimConfig slow;
    slow.flashWriteDelay = std::chrono::milliseconds(150);
    slow.rejectBlock = 0;
    slow.rejectCount = 3;
    auto sim = StartSim(slow);
    KvmRig rig;
    rig.Attach("COM1", *sim);
    const std::string path = files.WriteImage("fw.bin", 700);
    rig.SelectFirmware(path);

    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    const Bytes file = FirmwareTestFiles::ReadBytes(path);
    ExpectCompleteRun(rig, *sim, file);
    const auto blocks = BlockFrames(sim->Report());
    EXPECT_GT(blocks.size(), 3u + 3u) << "no block was resent after a silence";
    std::map<std::uint8_t, Bytes> firstFrameOf;
    for (const auto& block : blocks) {
        auto [it, fresh] = firstFrameOf.emplace(block[1], block);
        if (!fresh) {
            EXPECT_EQ(block, it->second) << "block " << int(block[1]) << " changed on its resend";
        }
    }
    EXPECT_EQ(firstFrameOf.size(), 3u);
    EXPECT_EQ(sim->Report().storedSequences, (Bytes{0, 1, 2}));
}

// The controls come back as the worker's last act; a front end may start the
// next run at once, while the finished worker's thread is still returning.
TEST(UpgradeAgain, NextRunRightAfterTheControlsComeBack)
{
    FirmwareTestFiles files;
    auto sim = StartSim();
    KvmRig rig;
    rig.Attach("COM1", *sim);
    rig.SelectFirmware(files.WriteImage("first.bin", 256, 1));

    rig.ops.Upgrade();
    ASSERT_TRUE(rig.services.WaitForEnable(1, std::chrono::seconds(60)));
    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Complete);

    const std::string second = files.WriteImage("second.bin", 600, 2);
    rig.SelectFirmware(second);
    rig.ops.Upgrade();
    EXPECT_EQ(rig.ops.WaitForWorker(), 1);

    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Complete);
    EXPECT_EQ(rig.services.CallCount("enable"), 2);
    ASSERT_TRUE(sim->WaitForEndOfImageCount(2, std::chrono::seconds(10)));
    const SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.image, FirmwareTestFiles::ReadBytes(second));
    EXPECT_EQ(report.storedSequences, (Bytes{0, 1, 2})); // numbering starts afresh
}

} // namespace
