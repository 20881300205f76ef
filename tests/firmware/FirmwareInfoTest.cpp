#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareInfo.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

using F = FirmwareTestFiles;
using Refusal = FirmwareInfo::Refusal;

// What the checks of one image say, with no shared state around them: the
// rules in detail are tested through Select File's loader in tests/kvm.
TEST(FirmwareInfo, ParseGivesAPlainResult)
{
    const F::Bytes record = F::WithCrc(F::Join({F::Filler(20), F::InfoRecord(2, 7, 12, 25)}));
    const F::Bytes named = F::WithCrc(F::Filler(30));
    const F::Bytes damaged = F::Filler(30);
    const F::Bytes zeros(8, 0);
    const struct {
        std::string what;
        F::Bytes bytes;
        std::size_t size; // bytes.size() unless larger than any image
        std::string name;
        std::string model;
        std::string version;
        int family;
        bool dateKnown;
        std::int32_t date1;
        Refusal refusal;
    } cases[] = {
        {"record", record, record.size(), "abc-4-5-6.bin", "PZN442", "7-12-25", 2, true, 7, Refusal::None},
        {"name with date", named, named.size(), "r315-07-11-30.bin", "Corva", "07-11-30", 1, true, 7,
         Refusal::None},
        {"name without date", named, named.size(), "firmware.bin", "firmware.bin", "Unable to recognize date.", 1,
         false, 0, Refusal::None},
        {"name with a control byte", named, named.size(), "a\x1b-1-2-3", "a\x1b", "1-2-3", 2, true, 1,
         Refusal::None},
        {"CRC failure", damaged, damaged.size(), "r315-07-11-30.bin", "CRC error.",
         " You may not continue upgrade\n\twith this file.", 1, false, 0, Refusal::CrcFailure},
        {"empty", {}, 0, "r315-07-11-30.bin", "CRC error.", " File is empty.", 1, false, 0, Refusal::Empty},
        {"zeros", zeros, zeros.size(), "x.bin", "CRC error.", " File holds only zero bytes.", 1, false, 0,
         Refusal::AllZero},
        {"too large", {}, kImageCapacity + 1, "x.bin", "CRC error.", " File is larger than 131072 bytes.", 1,
         false, 0, Refusal::TooLarge},
    };
    for (const auto& c : cases) {
        const FirmwareInfo info =
            ParseFirmware(c.size > kImageCapacity ? nullptr : c.bytes.data(), c.size, c.name);
        const bool valid = c.refusal == Refusal::None;
        EXPECT_EQ(info.modelText, c.model) << c.what;
        EXPECT_EQ(info.versionText, c.version) << c.what;
        EXPECT_EQ(info.family, c.family) << c.what;
        EXPECT_EQ(info.dateKnown, c.dateKnown) << c.what;
        if (c.dateKnown) {
            EXPECT_EQ(info.dateField1, c.date1) << c.what;
        }
        EXPECT_EQ(info.refusal, c.refusal) << c.what;
        EXPECT_EQ(info.valid, valid) << c.what;
        EXPECT_EQ(info.checkedLength, valid ? c.size : 0u) << c.what;
        if (!valid) {
            EXPECT_EQ(info.infoBlock[0], 0) << c.what;
        }
    }
}

} // namespace
