#include "cli/UpgradeCommand.h"

#include "cli/CheckCommand.h"
#include "cli/CliOptions.h"
#include "cli/CliServices.h"
#include "cli/CommandContext.h"
#include "cli/FirmwareSelection.h"
#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"
#include "outcome/Judgement.h"
#include "outcome/RunObserver.h"
#include "outcome/RunRecording.h"

namespace {

int Conclude(CommandContext& context, const KvmOperations& operations, const RunObserver& run)
{
    const CliOptions& options = context.options;
    const RunFacts facts = run.Facts(operations);
    const Verdict verdict =
        JudgeUpgrade(facts, operations.LastUpgradeOutcome(), Confirmation{options.Yes(), context.inIsTerminal});
    RecordVerdict(context.result, facts, verdict);
    // Refused or cancelled before the probe: the operation has said why.
    const UpgradeOutcome ended = operations.LastUpgradeOutcome();
    if (ended == UpgradeOutcome::Refused || ended == UpgradeOutcome::Cancelled) {
        if (verdict.outcome == Outcome::Declined)
            context.services.PrintError("Upgrade cancelled; nothing was sent.");
        return verdict.ExitStatus();
    }
    if (options.Quiet())
        context.services.QueueNote(PrintableText(context.services.Status()));
    if (!verdict.cause.empty())
        context.services.QueueNote("kvm-upgrade-cli: " + PrintableText(verdict.cause));
    return verdict.ExitStatus();
}

// Once Upgrade() has returned, its probe is over: the port it found is the
// front end's to read, while the worker goes on.
void PublishPort(CommandContext& context, const KvmOperations& operations, const RunObserver& run)
{
    const std::string port = operations.SwitchPortSoFar();
    if (port.empty())
        return;
    RecordSwitchPort(context.result, port, run.DeviceOf(port));
    context.publish();
}

} // namespace

int RunUpgradeCommand(CommandContext& context, KvmOperations& operations, const RunObserver& run)
{
    CliServices& services = context.services;
    const CliOptions& options = context.options;
    if (!SelectCommandFile(context.state, services, options.File(), options.Verbose(), context.result)) {
        RecordRefusedFile(context.result);
        return RefuseFirmwareFile(context.state, services, options.File(), "nothing was sent");
    }
    // What Select File shows, so the user sees model and version before the
    // confirmation.
    ShowFirmwareInfo(context.state, services);
    context.publish();

    if (options.IfNewer()) {
        operations.CheckVersion();
        const int checked = ConcludeCheck(context, operations, run);
        if (context.result.outcome == Outcome::NothingToDo)
            services.QueueNote(context.result.comparison == VersionComparison::Unknown
                                   ? "Nothing was sent: the file's date is not known, so it may not be newer."
                                   : "Nothing was sent: the file is not newer than the switch's firmware.");
        if (context.result.outcome != Outcome::Done) {
            if (!context.result.cause.empty())
                context.result.cause += "; nothing was sent";
            return checked;
        }
    }

    operations.Upgrade();
    PublishPort(context, operations, run);
    operations.WaitForWorker();
    return Conclude(context, operations, run);
}
