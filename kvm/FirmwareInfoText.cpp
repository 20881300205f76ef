#include "kvm/FirmwareInfoText.h"

#include <cstdio>

#include "firmware/FirmwareInfo.h"
#include "kvm/SharedState.h"

bool FirmwareCountsAsValid(const SharedState& state)
{
    return state.modelText != kCrcErrorText;
}

std::string FirmwareInfoText(SharedState& state)
{
    // A long file name makes a long model text; the scratch buffer is cut,
    // never overrun.
    const char* format = FirmwareCountsAsValid(state) && state.firmwareDateKnown != 0
        ? "Firmware infomation :\nModel : %s\nVersion : %s\n\nPress Check KVM to compare version date."
        : "Firmware infomation :\nModel : %s\nVersion : %s";
    std::snprintf(state.textBuffer, sizeof state.textBuffer, format, state.modelText.c_str(),
                  state.versionText.c_str());
    return state.textBuffer;
}
