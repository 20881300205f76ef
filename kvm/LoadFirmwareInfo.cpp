#include "kvm/LoadFirmwareInfo.h"

#include <cstring>
#include <vector>

#include "kvm/DialogServices.h"
#include "kvm/SharedState.h"
#include "kvm/SystemTexts.h"

void StoreFirmwareInfo(SharedState& state, const FirmwareInfo& info)
{
    state.modelText = info.modelText;
    state.versionText = info.versionText;
    std::memcpy(state.infoBlock, info.infoBlock, sizeof state.infoBlock);
    if (info.dateKnown) {
        state.dateField1 = info.dateField1;
        state.dateField2 = info.dateField2;
        state.dateField3 = info.dateField3;
    }
    state.firmwareDateKnown = info.dateKnown ? 1 : 0;
    // Every load sets the family, so one file always goes out with one
    // family header, whatever was loaded before it.
    state.familyHeader[1] = info.family;
    state.checkedImageLength = info.checkedLength;
    state.checkedImageCrc = info.checkedCrc;
    if (!info.valid)
        state.firmwareValid = 0;
}

void LoadFirmwareInfoFromBytes(SharedState& state, const std::string& fileName,
                               const std::uint8_t* bytes, std::size_t size)
{
    StoreFirmwareInfo(state, ParseFirmware(bytes, size, fileName));
}

FirmwareFileResult LoadFirmwareInfo(SharedState& state, DialogServices& services,
                                    const std::string& fileName)
{
    std::vector<std::uint8_t> image(kImageCapacity);
    const FirmwareFileResult read = ReadFirmwareFile(state.firmwarePath, image.data(), image.size());
    if (read.error == FirmwareFileResult::Error::TooLarge) {
        StoreFirmwareInfo(state, RefusedFirmware(FirmwareInfo::Refusal::TooLarge));
    } else if (!read.Ok()) {
        services.ShowWarning(SystemTexts::kFileNotExists, SystemTexts::kWarningCaption);
        StoreFirmwareInfo(state, RefusedFirmware(FirmwareInfo::Refusal::Unreadable));
    } else {
        StoreFirmwareInfo(state, ParseFirmware(image.data(), read.size, fileName));
    }
    return read;
}
