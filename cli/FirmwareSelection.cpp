#include "cli/FirmwareSelection.h"

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

bool SelectFirmwareFile(SharedState& state, CliServices& services, const std::string& file,
                        bool verbose)
{
    state.versionText.clear();
    state.modelText.clear();
    state.firmwarePath = file;
    const std::string name = FileNamePart(file);
    LoadFirmwareInfo(state, services, name);

    const bool valid = FirmwareCountsAsValid(state);
    if (valid)
        state.firmwareValid = 1;
    if (verbose)
        services.SetStatus(name);
    return valid;
}

int RefuseFirmwareFile(SharedState& state, CliServices& services, const std::string& file,
                       const std::string& what)
{
    services.PrintError(FirmwareInfoText(state));
    services.PrintError("kvm-upgrade-cli: " + file + " is no valid firmware file: " + what + ".");
    return kExitInvalidFile;
}
