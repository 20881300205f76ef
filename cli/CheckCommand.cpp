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

int RunCheckCommand(CommandContext& context, KvmOperations& operations, const RunObserver& run)
{
    const std::string& file = context.options.File();
    if (!file.empty()) {
        if (!SelectCommandFile(context.state, context.services, file, context.options.Verbose(), context.result)) {
            RecordRefusedFile(context.result);
            return RefuseFirmwareFile(context.state, context.services, file, "no version to compare, no port opened");
        }
        // What Select File shows; the check's own log replaces it.
        ShowFirmwareInfo(context.state, context.services);
        context.publish();
    }
    operations.CheckVersion();
    return ConcludeCheck(context, operations, run);
}

int ConcludeCheck(CommandContext& context, const KvmOperations& operations, const RunObserver& run)
{
    const RunFacts facts = run.Facts(operations);
    const Verdict verdict = JudgeCheck(facts, context.result.fileGiven);
    RecordVerdict(context.result, facts, verdict);
    context.publish();

    // The log says the comparison in the switch's own words; this line is
    // for the person who reads only the end.
    if (facts.report.versionRead)
        context.services.QueueNote(
            PrintableText(CheckSummary(facts.report, context.result.fileGiven, facts.fileDate)));
    if (!verdict.cause.empty())
        context.services.QueueNote("kvm-upgrade-cli: " + PrintableText(verdict.cause));
    return verdict.ExitStatus();
}
