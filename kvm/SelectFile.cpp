#include "kvm/SelectFile.h"

#include "kvm/DialogServices.h"
#include "kvm/FirmwareInfoText.h"
#include "kvm/LoadFirmwareInfo.h"
#include "kvm/SharedState.h"

FileSelection SelectFirmwareFile(SharedState& state, DialogServices& services, const std::string& path,
                                 const std::string& fileName)
{
    state.versionText.clear();
    state.modelText.clear();
    state.firmwarePath = path;
    FileSelection selection;
    selection.read = LoadFirmwareInfo(state, services, fileName);
    selection.valid = FirmwareCountsAsValid(state);
    if (selection.valid)
        state.firmwareValid = 1;
    return selection;
}

void ShowFirmwareInfo(SharedState& state, DialogServices& services)
{
    state.logText = FirmwareInfoText(state);
    services.UpdateData();
}
