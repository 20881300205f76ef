#include "ui/DialogCommands.h"

#include "firmware/FileName.h"
#include "kvm/DialogServices.h"
#include "kvm/KvmOperations.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"
#include "kvm/SystemTexts.h"

std::optional<std::string> SelectFileCommand(SharedState& state, DialogServices& services,
                                             const ChooseFileFn& choose)
{
    state.versionText.clear();
    state.modelText.clear();

    const std::optional<std::string> chosen = choose ? choose() : std::nullopt;
    if (!chosen || chosen->empty())
        return std::nullopt;

    const std::string fileName = FileNameOf(*chosen);
    SelectFirmwareFile(state, services, *chosen, fileName);
    ShowFirmwareInfo(state, services);
    services.UpdateData();
    services.SetStatus(fileName);
    services.UpdateData();
    return fileName;
}

bool RefuseCloseWhileRunning(const KvmOperations* ops, DialogServices& services)
{
    if (ops == nullptr || !ops->WorkerRunning())
        return false;
    // A box, not the status line: the worker owns that line and would
    // overwrite the reason within milliseconds.
    services.ShowWarning(ops->UpgradeStarted() ? SystemTexts::kCloseRefusedText
                                               : SystemTexts::kCloseRefusedCheckText,
                         SystemTexts::kCaption);
    return true;
}
