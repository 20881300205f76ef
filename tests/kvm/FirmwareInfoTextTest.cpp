#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kvm/FirmwareInfoText.h"
#include "kvm/SharedState.h"

namespace {

TEST(FirmwareInfoText, ChoosesTheWordingByValidityAndDate)
{
    const struct {
        std::string model;
        std::string version;
        int dateKnown;
        std::string text;
        bool valid;
    } cases[] = {
        {"Corva", "07-11-30", 1,
         "Firmware infomation :\nModel : Corva\nVersion : 07-11-30\n\nPress Check KVM to compare version date.",
         true},
        {"firmware.bin", "Unable to recognize date.", 0,
         "Firmware infomation :\nModel : firmware.bin\nVersion : Unable to recognize date.", true},
        {"CRC error.", " You may not continue upgrade\n\twith this file.", 0,
         "Firmware infomation :\nModel : CRC error.\nVersion :  You may not continue upgrade\n\twith this file.",
         false},
        {"CRC error.", "", 1, "Firmware infomation :\nModel : CRC error.\nVersion : ", false},
        {"", "", 1, "Firmware infomation :\nModel : \nVersion : \n\nPress Check KVM to compare version date.",
         true},
        {"CRC error", "1-2-3", 1,
         "Firmware infomation :\nModel : CRC error\nVersion : 1-2-3\n\nPress Check KVM to compare version date.",
         true},
        {"100%s", "%d", 0, "Firmware infomation :\nModel : 100%s\nVersion : %d", true},
    };
    auto state = std::make_unique<SharedState>();
    for (const auto& c : cases) {
        state->modelText = c.model;
        state->versionText = c.version;
        state->firmwareDateKnown = c.dateKnown;
        EXPECT_EQ(FirmwareInfoText(*state), c.text) << c.model;
        EXPECT_EQ(std::string(state->textBuffer), c.text) << c.model;
        EXPECT_EQ(FirmwareCountsAsValid(*state), c.valid) << c.model;
    }
}

} // namespace
