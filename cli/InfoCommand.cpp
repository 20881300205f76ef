#include "cli/InfoCommand.h"

#include "cli/CliOptions.h"
#include "cli/CliServices.h"
#include "cli/CommandContext.h"
#include "outcome/RunRecord.h"
#include "cli/FirmwareSelection.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"

int RunInfoCommand(CommandContext& context)
{
    SharedState& state = context.state;
    const bool valid = SelectCommandFile(state, context.services, context.options.File(),
                                         context.options.Verbose(), context.result);
    ShowFirmwareInfo(state, context.services);

    context.services.PrintLine("model-index=" + std::to_string(state.infoBlock[0]) +
                               " family=" + std::to_string(state.familyHeader[1]) +
                               " date-known=" + std::to_string(state.firmwareDateKnown) +
                               " valid=" + std::to_string(valid ? 1 : 0));
    context.result.outcome = valid ? Outcome::Done : Outcome::Refused;
    return context.result.ExitStatus();
}
