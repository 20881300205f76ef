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
#include "outcome/CheckSummary.h"
#include "outcome/Judgement.h"
#include "outcome/RunObserver.h"
#include "outcome/RunRecording.h"

namespace {

void SayCause(CommandContext& context, const std::string& cause)
{
    if (!cause.empty())
        context.services.QueueNote("kvm-upgrade-cli: " + PrintableText(cause));
}

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
    SayCause(context, verdict.cause);
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

// The switch's version, read before the upgrade for --if-newer and for a
// question that names the switch. Null when the upgrade may go on; else the
// exit status, nothing having been sent.
std::optional<int> ReadVersionFirst(CommandContext& context, KvmOperations& operations, const RunObserver& run)
{
    CliServices& services = context.services;
    RunRecord& result = context.result;
    operations.CheckVersion();
    const int checked = ConcludeCheck(context, operations, run);
    if (result.outcome == Outcome::NothingToDo && context.options.IfNewer())
        services.QueueNote(result.comparison == VersionComparison::Unknown
                               ? "Nothing was sent: the file's date is not known, so it may not be newer."
                           : result.comparison == VersionComparison::NotComparable
                               ? "Nothing was sent: the two dates cannot be compared."
                               : "Nothing was sent: the file is not newer than the switch's firmware.");
    const bool goOn = result.outcome == Outcome::Done ||
        (result.outcome == Outcome::NothingToDo && !context.options.IfNewer());
    if (!goOn) {
        if (!result.cause.empty())
            result.cause += "; nothing was sent";
        return checked;
    }
    if (context.options.Verify().asked && !context.options.Verify().probeOnly &&
        result.comparison == VersionComparison::Same)
        services.QueueNote("The switch already reports " + result.switchDate +
                           ", the file's date: --verify can confirm only that it comes back with it.");
    // The switch the user is asked about is the one upgraded, whatever a
    // scan would find first now.
    services.SetPortSelection(result.portName);
    services.SetQuestionDetail(UpgradeQuestion(result));
    return std::nullopt;
}

// After "Upgrade complete!": whether the switch came back with the file.
int Verify(CommandContext& context, KvmOperations& operations, const RunObserver& run, int sentStatus)
{
    const VerifyRequest& request = context.options.Verify();
    RunRecord& result = context.result;
    if (!request.asked || result.outcome != Outcome::Done)
        return sentStatus;
    RecordAwaitingRestart(result);
    context.publish();
    context.services.QueueNote("Waiting up to " + std::to_string(request.limit.count()) + " s for the switch on " +
                               result.portName + " to restart...");
    operations.AwaitRestart(result.portName, request.limit);
    const RunFacts facts = run.Facts(operations);
    const Verdict verdict = JudgeVerification(facts, request, result.switchRead ? result.switchModel : "");
    RecordVerification(result, facts, verdict);
    context.publish();
    if (verdict.outcome == Outcome::Done)
        context.services.QueueNote(PrintableText(VerificationSummary(result)));
    SayCause(context, verdict.cause);
    return verdict.ExitStatus();
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

    if (const std::optional<Verdict> refused = JudgeVerifyRequest(context.state, options.Verify())) {
        RecordVerdict(context.result, run.Facts(operations), *refused);
        SayCause(context, refused->cause);
        return refused->ExitStatus();
    }

    // Someone about to be asked is told which switch and which dates first;
    // a verification needs to know which switch it was.
    const bool asking = !options.Yes() && context.inIsTerminal;
    if (options.IfNewer() || asking || options.Verify().asked) {
        if (const std::optional<int> status = ReadVersionFirst(context, operations, run))
            return *status;
    }

    operations.Upgrade();
    PublishPort(context, operations, run);
    operations.WaitForWorker();
    return Verify(context, operations, run, Conclude(context, operations, run));
}
