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

int RunCheckCommand(CommandContext& context, KvmOperations& operations, const SwitchRun& run)
{
    const std::string& file = context.options.File();
    if (!file.empty()) {
        if (!SelectCommandFile(context.state, context.services, file, context.options.Verbose(), context.result)) {
            context.result.outcome = "refused";
            return RefuseFirmwareFile(context.state, context.services, file, "no version to compare, no port opened");
        }
        // What Select File shows; the check's own log replaces it.
        ShowFirmwareInfo(context.state, context.services);
        context.publish();
    }
    operations.CheckVersion();
    return ConcludeCheck(context, operations, run);
}

int ConcludeCheck(CommandContext& context, const KvmOperations& operations, const SwitchRun& run)
{
    const RunFacts facts = run.Facts(operations);
    const Verdict verdict = JudgeCheck(facts, context.result.fileGiven);
    CommandResult& result = context.result;
    const OperationReport& report = facts.report;
    RecordVerdict(result, facts, verdict);
    result.switchRead = report.versionRead;
    result.switchModel = report.switchModel;
    result.switchDate = report.versionRead ? SwitchDateText(report) : "";
    result.comparison = report.comparison;
    context.publish();

    // The log says the comparison in the switch's own words; this line is
    // for the person who reads only the end.
    if (report.versionRead)
        context.services.QueueNote(
            PrintableText(CheckSummary(report, result.fileGiven, result.fileVersion)));
    if (!verdict.cause.empty())
        context.services.QueueNote("kvm-upgrade-cli: " + PrintableText(verdict.cause));
    return verdict.exitCode;
}
