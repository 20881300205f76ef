#include "cli/InfoCommand.h"

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "firmware/FirmwareInfoText.h"
#include "firmware/FirmwareLoader.h"
#include "kvm/SharedState.h"

std::string FileNamePart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int RunInfoCommand(SharedState& state, CliServices& services, const std::string& file,
                   bool verbose)
{
    state.versionText.clear();
    state.modelText.clear();
    state.firmwarePath = file;
    const std::string name = FileNamePart(file);
    LoadFirmwareInfo(state, services, name);

    state.logText = FirmwareInfoText(state);
    const bool valid = FirmwareCountsAsValid(state);
    if (valid)
        state.firmwareValid = 1;
    if (verbose)
        services.SetStatus(name);
    services.UpdateData();

    services.PrintLine("model-index=" + std::to_string(state.infoBlock[0]) +
                       " family=" + std::to_string(state.familyHeader[1]) +
                       " date-known=" + std::to_string(state.firmwareDateKnown) +
                       " valid=" + std::to_string(valid ? 1 : 0));
    return valid ? kExitOk : kExitInvalidFile;
}
