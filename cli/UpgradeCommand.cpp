#include "cli/UpgradeCommand.h"

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "cli/FirmwareSelection.h"
#include "kvm/KvmOperations.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"

int RunUpgradeCommand(SharedState& state, CliServices& services, KvmOperations& operations,
                      const UpgradeRequest& request)
{
    if (!SelectCommandFile(state, services, request.file, request.verbose))
        return RefuseFirmwareFile(state, services, request.file, "nothing was sent");
    // What Select File shows, so the user sees model and version before the
    // confirmation.
    ShowFirmwareInfo(state, services);

    operations.Upgrade();
    operations.WaitForWorker();
    switch (operations.LastUpgradeOutcome()) {
    case UpgradeOutcome::Complete:
        return kExitOk;
    case UpgradeOutcome::Refused:
        return kExitInvalidFile;
    case UpgradeOutcome::Cancelled:
        if (!request.assumeYes && !request.inIsTerminal)
            return kExitUsage; // the operation has said why
        services.PrintError("Upgrade cancelled; nothing was sent.");
        return kExitFailed;
    case UpgradeOutcome::None:
    case UpgradeOutcome::Failed:
        break;
    }
    return kExitFailed;
}
