#include "cli/InfoCommand.h"

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"

int RunInfoCommand(SharedState& state, CliServices& services, const std::string& file,
                   bool verbose)
{
    const bool valid = SelectCommandFile(state, services, file, verbose);
    ShowFirmwareInfo(state, services);

    services.PrintLine("model-index=" + std::to_string(state.infoBlock[0]) +
                       " family=" + std::to_string(state.familyHeader[1]) +
                       " date-known=" + std::to_string(state.firmwareDateKnown) +
                       " valid=" + std::to_string(valid ? 1 : 0));
    return valid ? kExitOk : kExitInvalidFile;
}
