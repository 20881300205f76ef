#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KvmRig.h"

inline std::unique_ptr<SwitchSim> StartSim(SwitchSimConfig config = {})
{
    auto sim = std::make_unique<SwitchSim>(std::move(config));
    std::string error;
    EXPECT_TRUE(sim->Start(&error)) << error;
    return sim;
}

inline bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The worker's last acts on every way out: the port closed, the worker no
// longer counted as running, then the controls enabled, once, and nothing
// after that.
inline void ExpectRunEnded(const KvmRig& rig)
{
    const auto calls = rig.services.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "enable");
    EXPECT_EQ(rig.services.CallCount("disable"), 1);
    EXPECT_EQ(rig.services.CallCount("enable"), 1);
    EXPECT_FALSE(rig.services.WorkerRunningAtLastEnable());
    EXPECT_FALSE(rig.services.PortOpenAtLastEnable());
    EXPECT_FALSE(rig.ops.WorkerRunning());
    EXPECT_FALSE(rig.port.IsOpen());
}

inline const char* kSuccessLogTail =
    "Connecting to KVM................[   OK   ]\nUpgrading in progress............[   OK   ]";

// A run reported as complete: the switch holds exactly the file.
inline void ExpectCompleteRun(const KvmRig& rig, const SwitchSim& sim, const std::vector<std::uint8_t>& file)
{
    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Complete);
    EXPECT_EQ(rig.services.Status(), "Upgrade complete!");
    EXPECT_TRUE(EndsWith(rig.state.logText, kSuccessLogTail)) << rig.state.logText;
    ASSERT_FALSE(rig.services.ProgressValues().empty());
    EXPECT_EQ(rig.services.ProgressValues().back(), 100);
    ExpectRunEnded(rig);

    ASSERT_TRUE(sim.WaitForEndOfImage(std::chrono::seconds(10)));
    const SwitchSimReport report = sim.Report();
    EXPECT_TRUE(report.image == file) << "the switch holds " << report.image.size() << " bytes, the file has "
                                      << file.size();
    ASSERT_FALSE(report.frames.empty());
    EXPECT_EQ(report.frames.back(), std::vector<std::uint8_t>{0x05});
    EXPECT_EQ(report.badFrames, 0);
}

// A run that failed: what the screen shows, and no end-of-image frame.
inline void ExpectFailedRun(const KvmRig& rig, const SwitchSim* sim, const std::string& status,
                            const std::string& logTail)
{
    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Failed);
    EXPECT_EQ(rig.services.Status(), status);
    EXPECT_TRUE(EndsWith(rig.state.logText, logTail)) << rig.state.logText;
    ExpectRunEnded(rig);
    if (sim) {
        EXPECT_EQ(sim->Report().endOfImageCount, 0);
    }
}

// The data-block frames the switch saw (0x03, sequence, data).
inline std::vector<std::vector<std::uint8_t>> BlockFrames(const SwitchSimReport& report)
{
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const auto& frame : report.frames)
        if (!frame.empty() && frame[0] == 0x03)
            blocks.push_back(frame);
    return blocks;
}
