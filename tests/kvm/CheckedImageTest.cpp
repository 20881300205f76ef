#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "firmware/Crc16.h"
#include "kvm/SelectFile.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Pseudo(std::size_t count, unsigned seed)
{
    Bytes bytes(count);
    unsigned x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// A second valid image of the same length as first whose body has the same
// CRC-16 (so the same trailer) but other bytes and another info record: two
// bytes just before the record are chosen to make the CRCs meet.
Bytes SameLengthSameCrc(const Bytes& first, const Bytes& otherRecord, unsigned seed)
{
    const std::size_t body = first.size() - 2;
    const std::uint16_t target = Crc16(first.data(), static_cast<std::uint32_t>(body));
    Bytes second = Pseudo(body - otherRecord.size(), seed);
    second.insert(second.end(), otherRecord.begin(), otherRecord.end());
    const std::size_t fix = body - otherRecord.size() - 2;
    for (unsigned v = 0; v < 0x10000; ++v) {
        second[fix] = static_cast<std::uint8_t>(v >> 8);
        second[fix + 1] = static_cast<std::uint8_t>(v);
        if (Crc16(second.data(), static_cast<std::uint32_t>(body)) == target)
            break;
    }
    second.push_back(first[body]);
    second.push_back(first[body + 1]);
    return second;
}

// The file is checked (Corva, 1-1-20, shown to the user and confirmed), then
// replaced by another valid image of the same length and body CRC (PZN442,
// 9-9-25) before the worker reads it again. Only the image that was checked
// may reach the switch: the run must refuse the changed file.
TEST(CheckedImage, ReplacementWithTheSameLengthAndCrcIsNotSent)
{
    FirmwareTestFiles files;
    const Bytes checked = FirmwareTestFiles::WithCrc(
        FirmwareTestFiles::Join({Pseudo(590, 1), FirmwareTestFiles::InfoRecord(1, 1, 1, 20)}));
    const Bytes replacement = SameLengthSameCrc(checked, FirmwareTestFiles::InfoRecord(2, 9, 9, 25), 2);
    ASSERT_EQ(replacement.size(), checked.size());
    ASSERT_NE(replacement, checked);
    ASSERT_EQ(Crc16(replacement.data(), static_cast<std::uint32_t>(replacement.size())), 0);

    auto sim = StartSim();
    KvmRig rig;
    rig.Attach("COM1", *sim);
    const std::string path = files.Write("fw.bin", checked);
    const FileSelection selection = SelectFirmwareFile(rig.state, rig.services, path, "fw.bin");
    ASSERT_TRUE(selection.valid);
    ASSERT_EQ(rig.state.modelText, "Corva");

    files.Write("fw.bin", replacement);

    rig.ops.Upgrade();
    rig.ops.WaitForWorker();

    EXPECT_EQ(rig.ops.LastUpgradeOutcome(), UpgradeOutcome::Failed);
    EXPECT_EQ(rig.services.Status(), "Error: File has changed, CRC error.");
    EXPECT_FALSE(sim->WaitForEndOfImage(1s));
    const SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.endOfImageCount, 0);
    EXPECT_FALSE(report.image == replacement) << "the switch stored an image that was never checked";
}

} // namespace
