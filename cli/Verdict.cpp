#include "cli/Verdict.h"

#include <cstdio>

#include "cli/CliExitCodes.h"
#include "cli/CommandResult.h"
#include "kvm/KvmOperations.h"

namespace {

bool IsOpenFailureOfNote(const SerialError& error)
{
    // A COM name with nothing behind it says nothing about the ports that
    // exist.
    return error.kind != SerialError::Kind::UnknownName;
}

int ExitForOpenFailure(const SerialError& error)
{
    return error.kind == SerialError::Kind::Busy ? kExitPortBusy : kExitPortUnavailable;
}

std::string OutcomeForExit(int exitCode)
{
    switch (exitCode) {
    case kExitOk:
        return "done";
    case kExitNothingToDo:
        return "nothing-to-do";
    case kExitPortUnavailable:
        return "port-unavailable";
    case kExitPortBusy:
        return "port-busy";
    case kExitNoSwitch:
        return "no-switch";
    case kExitTransferFailed:
        return "transfer-failed";
    default:
        return "failed";
    }
}

Verdict Make(int exitCode, std::string cause)
{
    return Verdict{exitCode, OutcomeForExit(exitCode), std::move(cause)};
}

std::string PortAndDevice(const RunFacts& facts)
{
    const std::string& name = facts.report.portName;
    return facts.device.empty() ? name : name + " (" + facts.device + ")";
}

std::string WithLineFailure(std::string cause, const RunFacts& facts)
{
    if (facts.ioError.kind != SerialError::Kind::None)
        cause += "; " + facts.ioError.Describe();
    return cause;
}

Verdict ScanFoundNothing(const RunFacts& facts)
{
    const SerialError* busy = nullptr;
    const SerialError* other = nullptr;
    int notable = 0;
    for (const SerialError& error : facts.openFailures) {
        if (!IsOpenFailureOfNote(error))
            continue;
        ++notable;
        if (error.kind == SerialError::Kind::Busy && busy == nullptr)
            busy = &error;
        else if (other == nullptr)
            other = &error;
    }
    const SerialError* shown = busy != nullptr ? busy : other;

    const std::string silent = std::to_string(facts.silentPorts) + (facts.silentPorts == 1 ? " port" : " ports") +
        " opened and stayed silent";
    const std::string others = notable > 1
        ? " (and " + std::to_string(notable - 1) + " more " + (notable == 2 ? "port" : "ports") +
            " could not be opened)"
        : "";
    // The switch may well be behind a port another program holds: that is
    // the one thing the user can act on.
    if (busy != nullptr) {
        std::string cause = busy->Describe() + others;
        if (facts.silentPorts > 0)
            cause += "; no switch answered elsewhere (" + silent + ")";
        return Make(kExitPortBusy, cause);
    }
    if (facts.silentPorts > 0) {
        std::string cause = "no switch answered on COM1 to COM12: " + silent;
        if (shown != nullptr)
            cause += "; " + shown->Describe();
        return Make(kExitNoSwitch, cause);
    }
    if (shown == nullptr)
        return Make(kExitPortUnavailable,
                    "no serial port to scan: COM1 to COM12 have no device (see --list-ports and --map)");
    return Make(ExitForOpenFailure(*shown), shown->Describe() + others);
}

} // namespace

std::optional<Verdict> JudgeProbe(const RunFacts& facts)
{
    switch (facts.report.probeResult) {
    case kProbeFoundByScan:
    case kProbeFoundOnNamedPort:
        return std::nullopt;
    case kProbeScanFoundNothing:
        return ScanFoundNothing(facts);
    case kProbeNamedPortFailed: {
        if (facts.openFailures.empty())
            return Make(kExitPortUnavailable, PortAndDevice(facts) + ": cannot be opened");
        const SerialError& error = facts.openFailures.back();
        return Make(ExitForOpenFailure(error), error.Describe());
    }
    default: {
        std::string cause = PortAndDevice(facts) + ": no switch answered the probe";
        if (!facts.kernelConsole.empty())
            cause += "; it is the kernel console (" + facts.kernelConsole + "), no switch answers there";
        return Make(kExitNoSwitch, WithLineFailure(cause, facts));
    }
    }
}

Verdict JudgeCheck(const RunFacts& facts, bool fileGiven)
{
    if (std::optional<Verdict> probe = JudgeProbe(facts))
        return *probe;
    if (!facts.report.versionRead)
        return Make(kExitNoSwitch,
                    WithLineFailure(PortAndDevice(facts) + ": the switch answered the probe but not the version request",
                                    facts));
    if (fileGiven && facts.report.comparison != VersionComparison::FileNewer)
        return Make(kExitNothingToDo, "");
    return Make(kExitOk, "");
}

Verdict JudgeUpgrade(const RunFacts& facts, UpgradeOutcome outcome)
{
    const OperationReport& report = facts.report;
    if (outcome == UpgradeOutcome::Complete)
        return Make(kExitOk, "");

    if (report.imageDataSent) {
        std::string how;
        switch (report.stop) {
        case UpgradeStop::BlockRejected:
            how = "the switch refused block " + std::to_string(report.blocksAcknowledged + 1) + " too often";
            break;
        case UpgradeStop::SwitchSilent:
            how = "the switch stopped answering";
            break;
        case UpgradeStop::EndOfImage:
            how = "the end-of-image frame could not be sent";
            break;
        default:
            how = "the transfer stopped";
            break;
        }
        std::string cause = "the upgrade failed after " + std::to_string(report.bytesAcknowledged) + " of " +
            std::to_string(report.imageLength) + " bytes were acknowledged: " + how;
        cause = WithLineFailure(cause, facts);
        cause += ". The switch may not start: keep its power and cable, and run the upgrade again";
        return Make(kExitTransferFailed, cause);
    }
    if (report.stop == UpgradeStop::FileRefused) {
        Verdict verdict = Make(kExitInvalidFile, "the file changed since it was checked; nothing was sent");
        verdict.outcome = "refused";
        return verdict;
    }
    if (std::optional<Verdict> probe = JudgeProbe(facts)) {
        probe->cause += "; nothing was sent";
        return *probe;
    }
    if (report.stop == UpgradeStop::SwitchLost)
        return Make(kExitNoSwitch,
                    WithLineFailure(PortAndDevice(facts) + ": the switch stopped answering before the upgrade", facts) +
                        "; nothing was sent");
    // The switch has taken the upgrade's headers and may have begun to erase
    // its flash (the go-ahead waits for that): it may not start as it is.
    return Make(kExitTransferFailed,
                WithLineFailure(PortAndDevice(facts) + ": the switch did not give the go-ahead for the upgrade", facts) +
                    "; no image data was sent, but the switch may have begun to erase its firmware: run the upgrade "
                    "again if it does not work normally");
}

void RecordVerdict(CommandResult& result, const RunFacts& facts, const Verdict& verdict)
{
    if (!facts.report.portName.empty()) {
        result.portOpened = true;
        result.portName = facts.report.portName;
        result.portDevice = facts.device;
    }
    result.outcome = verdict.outcome;
    result.cause = verdict.cause;
}

std::string ComparisonName(VersionComparison comparison)
{
    switch (comparison) {
    case VersionComparison::FileNewer:
        return "file-newer";
    case VersionComparison::Same:
        return "same";
    case VersionComparison::SwitchNewer:
        return "switch-newer";
    case VersionComparison::Unknown:
        break;
    }
    return "unknown";
}

std::string SwitchDateText(const OperationReport& report)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d", report.switchDate[0], report.switchDate[1],
                  report.switchDate[2]);
    return text;
}

std::string CheckSummary(const OperationReport& report, bool fileGiven, const std::string& fileVersion)
{
    std::string summary = report.portName + ": switch firmware " + SwitchDateText(report);
    if (!report.switchModel.empty())
        summary += " (" + report.switchModel + ")";
    if (!fileGiven)
        return summary + ".";
    summary += ", file " + (fileVersion.empty() ? std::string("of unknown date") : fileVersion) + ": ";
    switch (report.comparison) {
    case VersionComparison::FileNewer:
        return summary + "the file is newer.";
    case VersionComparison::Same:
        return summary + "the same date.";
    case VersionComparison::SwitchNewer:
        return summary + "the switch's firmware is newer.";
    case VersionComparison::Unknown:
        break;
    }
    return summary + "the file's date is not known, so the two cannot be compared.";
}
