#include "cli/CheckCommand.h"

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "cli/FirmwareSelection.h"
#include "kvm/KvmOperations.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"

int RunCheckCommand(SharedState& state, CliServices& services, KvmOperations& operations,
                    const std::string& file, bool verbose)
{
    if (!file.empty()) {
        if (!SelectCommandFile(state, services, file, verbose))
            return RefuseFirmwareFile(state, services, file, "no version to compare, no port opened");
        // What Select File shows; the check's own log replaces it.
        ShowFirmwareInfo(state, services);
    }
    operations.CheckVersion();
    return operations.LastCheckSucceeded() ? kExitOk : kExitFailed;
}
