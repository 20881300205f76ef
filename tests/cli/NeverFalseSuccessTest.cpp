// The one promise a firmware flasher must keep: an upgrade that reports
// success left the switch holding the file, byte for byte. Every fault the
// simulated switch can play is run through the built kvm-upgrade-cli; each
// run ends either with exit 0, "Upgrade complete!" and the whole image
// stored, or with a non-zero exit and no such text. Nothing in between.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "CliRunner.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;

struct FaultCase {
    const char* name;
    std::function<void(SwitchSimConfig&)> fault;
    // What the run must come to with this fault; nullopt where either end is
    // right (the switch still stores what gets through).
    std::optional<bool> succeeds;
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class NeverFalseSuccess : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NeverFalseSuccess, SuccessOnlyWithTheWholeImageStored)
{
    const FaultCase& c = GetParam();
    SwitchSimConfig config;
    c.fault(config);
    SwitchSim sim(config);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    // Four blocks, the last a short one; not a multiple of 256.
    FirmwareTestFiles files;
    const std::string path = files.WriteImage("fw.bin", 1000);
    const FirmwareTestFiles::Bytes image = FirmwareTestFiles::ReadBytes(path);

    const CliRunner::Result result = CliRunner::Run(
        {"--json", "--map", "COM1=" + sim.DevicePath(), "upgrade", "--port", "COM1", "--yes", path});
    SCOPED_TRACE("exit " + std::to_string(result.exitCode) + "\nstdout:\n" + result.out + "\nstderr:\n" +
                 result.err);
    const bool claimed = result.err.find("Upgrade complete!") != std::string::npos
        || result.out.find("Upgrade complete!") != std::string::npos;

    if (result.exitCode == 0) {
        EXPECT_TRUE(claimed);
        ASSERT_TRUE(sim.WaitForEndOfImage(5s));
        const SwitchSimReport report = sim.Report();
        EXPECT_TRUE(report.endOfImage);
        EXPECT_TRUE(report.image == image) << "stored " << report.image.size() << " of " << image.size();
    } else {
        EXPECT_GT(result.exitCode, 0);
        EXPECT_FALSE(claimed);
        // Once image data has reached the switch, a failure says so (7, run
        // it again), and claims no more acknowledged bytes than it stored.
        const SwitchSimReport report = sim.Report();
        if (report.blockFrames > 0) {
            EXPECT_EQ(result.exitCode, 7);
        }
        const nlohmann::json json = nlohmann::json::parse(result.out, nullptr, false);
        ASSERT_TRUE(json.is_object()) << result.out;
        EXPECT_EQ(json.value("exit_code", -1), result.exitCode);
        const auto acknowledged = json.value("bytes_sent", 0u);
        ASSERT_LE(acknowledged, report.image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + acknowledged, report.image.begin()));
    }
    if (c.succeeds) {
        EXPECT_EQ(result.exitCode == 0, *c.succeeds);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NeverFalseSuccess,
    ::testing::Values(
        FaultCase{"NoFault", [](SwitchSimConfig&) {}, true},
        FaultCase{"Silent", [](SwitchSimConfig& c) { c.silent = true; }, false},
        FaultCase{"AnswersTheThirdProbe", [](SwitchSimConfig& c) { c.answerProbeFrom = 3; }, true},
        FaultCase{"DropsOutAfterTheProbe", [](SwitchSimConfig& c) { c.answerProbeUntil = 1; }, false},
        FaultCase{"NoReadyReply", [](SwitchSimConfig& c) { c.noReadyReply = true; }, true},
        FaultCase{"NoGoAhead", [](SwitchSimConfig& c) { c.noGoAhead = true; }, false},
        FaultCase{"SlowGoAhead", [](SwitchSimConfig& c) { c.goAheadDelay = 1500ms; }, true},
        FaultCase{"FourRejections",
                  [](SwitchSimConfig& c) {
                      c.rejectBlock = 1;
                      c.rejectCount = 4;
                  },
                  true},
        FaultCase{"FiveRejections",
                  [](SwitchSimConfig& c) {
                      c.rejectBlock = 1;
                      c.rejectCount = 5;
                  },
                  false},
        FaultCase{"RejectedWithAnAcceptCode",
                  [](SwitchSimConfig& c) {
                      c.rejectBlock = 2;
                      c.rejectCount = 9;
                      c.rejectCode = 0xF2;
                  },
                  false},
        FaultCase{"SilentFromTheThirdBlock", [](SwitchSimConfig& c) { c.silentFromBlock = 2; }, false},
        FaultCase{"SlowFlash", [](SwitchSimConfig& c) { c.flashWriteDelay = 60ms; }, true},
        FaultCase{"OverlongReplies", [](SwitchSimConfig& c) { c.replyLength = 300; }, true},
        FaultCase{"NoiseBeforeReplies", [](SwitchSimConfig& c) { c.noiseBytes = 3; }, false},
        FaultCase{"HangsUpMidImage", [](SwitchSimConfig& c) { c.hangupAfterBlock = 1; }, false},
        FaultCase{"Babbles", [](SwitchSimConfig& c) { c.babble = true; }, false},
        FaultCase{"LineTiming", [](SwitchSimConfig& c) { c.lineTiming = true; }, true},
        // A line that never falls silent after the go-ahead: its F0s are no acks.
        FaultCase{"BabblesF0AfterGoAhead", [](SwitchSimConfig& c) { c.babbleAfterGoAhead = 0xF0; }, false},
        // At the line's own rate a stalled simulator leaves gaps in which a
        // frame gets through and is stored: then success is true.
        FaultCase{"BabblesF0AfterGoAheadAtLineSpeed",
                  [](SwitchSimConfig& c) {
                      c.babbleAfterGoAhead = 0xF0;
                      c.lineTiming = true;
                  },
                  std::nullopt},
        // Through a USB adapter the same babble comes in packets a few
        // milliseconds apart, gaps the drain takes for silence: a block the
        // switch missed must not be credited to the babble's F0s.
        FaultCase{"BabblesF0ThroughAnAdapterAndABlockIsMissed",
                  [](SwitchSimConfig& c) {
                      c.babbleAfterGoAhead = 0xF0;
                      c.lineTiming = true;
                      c.adapterHold = 16ms;
                      c.ignoreBlock = 1;
                  },
                  false},
        FaultCase{"BabblesF0AtLineSpeedAndABlockIsMissed",
                  [](SwitchSimConfig& c) {
                      c.babbleAfterGoAhead = 0xF0;
                      c.lineTiming = true;
                      c.ignoreBlock = 1;
                  },
                  std::nullopt},
        // The end-of-image frame cannot be written: the switch never took the image.
        FaultCase{"HangsUpAfterTheLastAck", [](SwitchSimConfig& c) { c.hangUpAfterLastAck = true; }, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
