#include "cli/UpgradeCommand.h"

#include "cli/CheckCommand.h"
#include "cli/CliExitCodes.h"
#include "cli/CliOptions.h"
#include "cli/CliServices.h"
#include "cli/CommandContext.h"
#include "cli/CommandResult.h"
#include "cli/FirmwareSelection.h"
#include "cli/SwitchRun.h"
#include "cli/Verdict.h"
#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"
#include "serial/PortTable.h"

namespace {

int Conclude(CommandContext& context, const KvmOperations& operations, const SwitchRun& run)
{
    CommandResult& result = context.result;
    const RunFacts facts = run.Facts(operations);
    const Verdict verdict = JudgeUpgrade(facts, operations.LastUpgradeOutcome());
    const OperationReport& report = facts.report;
    RecordVerdict(result, facts, verdict);
    result.blocksSent = report.blocksAcknowledged;
    result.bytesSent = report.bytesAcknowledged;
    result.resends = report.resends;
    result.rejections = report.rejections;
    if (context.options.Quiet())
        context.services.QueueNote(PrintableText(context.services.Status()));
    if (!verdict.cause.empty())
        context.services.QueueNote("kvm-upgrade-cli: " + PrintableText(verdict.cause));
    return verdict.exitCode;
}

// Once Upgrade() has returned, its probe is over: the port it found is the
// front end's to read, while the worker goes on.
void PublishPort(CommandContext& context)
{
    const SharedState& state = context.state;
    if (state.probeResult != kProbeFoundByScan && state.probeResult != kProbeFoundOnNamedPort)
        return;
    CommandResult& result = context.result;
    result.portOpened = true;
    result.portName = state.portName == kAutoPortSelection ? std::string(state.scanPortName) : state.portName;
    result.portDevice = PortTable::Process().Resolve(result.portName).value_or("");
    context.publish();
}

} // namespace

int RunUpgradeCommand(CommandContext& context, KvmOperations& operations, const SwitchRun& run)
{
    CliServices& services = context.services;
    const CliOptions& options = context.options;
    if (!SelectCommandFile(context.state, services, options.File(), options.Verbose(), context.result)) {
        context.result.outcome = "refused";
        return RefuseFirmwareFile(context.state, services, options.File(), "nothing was sent");
    }
    // What Select File shows, so the user sees model and version before the
    // confirmation.
    ShowFirmwareInfo(context.state, services);
    context.publish();

    if (options.IfNewer()) {
        operations.CheckVersion();
        const int checked = ConcludeCheck(context, operations, run);
        if (checked == kExitNothingToDo)
            services.QueueNote(context.result.comparison == VersionComparison::Unknown
                                   ? "Nothing was sent: the file's date is not known, so it may not be newer."
                                   : "Nothing was sent: the file is not newer than the switch's firmware.");
        if (checked != kExitOk) {
            if (!context.result.cause.empty())
                context.result.cause += "; nothing was sent";
            return checked;
        }
    }

    operations.Upgrade();
    PublishPort(context);
    operations.WaitForWorker();
    switch (operations.LastUpgradeOutcome()) {
    case UpgradeOutcome::Refused:
        context.result.outcome = "refused";
        return kExitInvalidFile;
    case UpgradeOutcome::Cancelled:
        if (!options.Yes() && !context.inIsTerminal) {
            context.result.outcome = "usage";
            context.result.cause = "no terminal to confirm on and no --yes; nothing was sent";
            return kExitUsage; // the operation has said why
        }
        services.PrintError("Upgrade cancelled; nothing was sent.");
        context.result.outcome = "declined";
        context.result.cause = "the confirmation was declined; nothing was sent";
        return kExitFailed;
    case UpgradeOutcome::None:
    case UpgradeOutcome::Complete:
    case UpgradeOutcome::Failed:
        break;
    }
    return Conclude(context, operations, run);
}
