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
    state.checkedImage.clear();
    if (!info.valid)
        state.firmwareValid = 0;
}

namespace {

// What passed the checks is kept whole: the upgrade compares the file it
// reads again with these bytes.
void StoreCheckedFirmware(SharedState& state, const FirmwareInfo& info, const std::uint8_t* bytes,
                          std::size_t size)
{
    StoreFirmwareInfo(state, info);
    if (info.valid && info.checkedLength == size && bytes != nullptr)
        state.checkedImage.assign(bytes, bytes + size);
}

} // namespace

void LoadFirmwareInfoFromBytes(SharedState& state, const std::string& fileName,
                               const std::uint8_t* bytes, std::size_t size)
{
    StoreCheckedFirmware(state, ParseFirmware(bytes, size, fileName), bytes, size);
}

namespace {

// A name's texts go into the log, the status line and the report as the
// front end shows outside text; the loader's own words need no such care.
FirmwareInfo ShownBy(const DialogServices& services, FirmwareInfo info)
{
    if (info.textsFromName) {
        info.modelText = services.OutsideText(info.modelText);
        info.versionText = services.OutsideText(info.versionText);
    }
    return info;
}

} // namespace

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
        StoreCheckedFirmware(state, ShownBy(services, ParseFirmware(image.data(), read.size, fileName)), image.data(),
                             read.size);
    }
    return read;
}
