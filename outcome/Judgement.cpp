#include "outcome/Judgement.h"

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "outcome/CheckSummary.h"

namespace {

bool IsOpenFailureOfNote(const SerialError& error)
{
    // A COM name with nothing behind it says nothing about the ports that
    // exist.
    return error.kind != SerialError::Kind::UnknownName;
}

Outcome OutcomeForOpenFailure(const SerialError& error)
{
    return error.kind == SerialError::Kind::Busy ? Outcome::PortBusy : Outcome::PortUnavailable;
}

Verdict Make(Outcome outcome, std::string cause)
{
    return Verdict{outcome, std::move(cause)};
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
        return Make(Outcome::PortBusy, cause);
    }
    if (facts.silentPorts > 0) {
        std::string cause = "no switch answered on COM1 to COM12: " + silent
            + " (is the upgrade cable in the switch's upgrade port, and the switch powered?)";
        if (shown != nullptr)
            cause += "; " + shown->Describe();
        return Make(Outcome::NoSwitch, cause);
    }
    if (shown == nullptr)
        return Make(Outcome::PortUnavailable,
                    "no serial port to scan: COM1 to COM12 have no device (see --list-ports and --map)");
    return Make(OutcomeForOpenFailure(*shown), shown->Describe() + others);
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
            return Make(Outcome::PortUnavailable, PortAndDevice(facts) + ": cannot be opened");
        const SerialError& error = facts.openFailures.back();
        return Make(OutcomeForOpenFailure(error), error.Describe());
    }
    default: {
        std::string cause = PortAndDevice(facts) + ": no switch answered the probe";
        if (facts.kernelConsole.empty())
            cause += " (is the upgrade cable in the switch's upgrade port, and the switch powered? or try --port AUTO)";
        if (!facts.kernelConsole.empty())
            cause += "; it is the kernel console (" + facts.kernelConsole + "), no switch answers there";
        return Make(Outcome::NoSwitch, WithLineFailure(cause, facts));
    }
    }
}

Verdict JudgeCheck(const RunFacts& facts, bool fileGiven)
{
    if (std::optional<Verdict> probe = JudgeProbe(facts))
        return *probe;
    if (!facts.report.versionRead)
        return Make(Outcome::NoSwitch,
                    WithLineFailure(PortAndDevice(facts) + ": the switch answered the probe but not the version request",
                                    facts));
    if (fileGiven && facts.report.comparison == VersionComparison::NotComparable)
        return Make(Outcome::NothingToDo, "the file's date " + facts.fileDate +
                                              " has a field above 255, which no switch can report: the two dates "
                                              "cannot be compared");
    if (fileGiven && facts.report.comparison != VersionComparison::FileNewer)
        return Make(Outcome::NothingToDo, "");
    return Make(Outcome::Done, "");
}

Verdict JudgeUpgrade(const RunFacts& facts, UpgradeOutcome outcome, const Confirmation& confirmation)
{
    const OperationReport& report = facts.report;
    switch (outcome) {
    case UpgradeOutcome::Complete:
        return Make(Outcome::Done, "");
    case UpgradeOutcome::Refused:
        return JudgeRefusedFile("nothing was sent");
    case UpgradeOutcome::Cancelled:
        if (!confirmation.assumeYes && !confirmation.onTerminal)
            return Make(Outcome::Usage, "no terminal to confirm on and no --yes; nothing was sent");
        return Make(Outcome::Declined, "the confirmation was declined; nothing was sent");
    case UpgradeOutcome::None:
    case UpgradeOutcome::Failed:
        break;
    }

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
        return Make(Outcome::TransferFailed, cause);
    }
    if (report.stop == UpgradeStop::FileRefused)
        return Make(Outcome::Refused, "the file changed since it was checked; nothing was sent");
    if (std::optional<Verdict> probe = JudgeProbe(facts)) {
        probe->cause += "; nothing was sent";
        return *probe;
    }
    if (report.stop == UpgradeStop::SwitchLost)
        return Make(Outcome::NoSwitch,
                    WithLineFailure(PortAndDevice(facts) + ": the switch stopped answering before the upgrade", facts) +
                        "; nothing was sent");
    // The switch has taken the upgrade's headers and may have begun to erase
    // its flash (the go-ahead waits for that): it may not start as it is.
    return Make(Outcome::TransferFailed,
                WithLineFailure(PortAndDevice(facts) + ": the switch did not give the go-ahead for the upgrade", facts) +
                    "; no image data was sent, but the switch may have begun to erase its firmware: run the upgrade "
                    "again if it does not work normally");
}

Verdict JudgeRefusedFile(const std::string& what)
{
    return Make(Outcome::Refused, "the firmware file may not be used; " + what);
}

std::optional<Verdict> JudgeVerifyRequest(const SharedState& state, const VerifyRequest& request)
{
    if (!request.asked || request.probeOnly)
        return std::nullopt;
    const std::string instead =
        ", so --verify cannot confirm the upgrade; give --verify=probe-only to check only that the switch answers "
        "again after it, or leave --verify out; nothing was sent";
    if (state.firmwareDateKnown != 1)
        return Make(Outcome::Usage, "the file's date is not known (no info record, no date in its name)" + instead);
    if (!SwitchCanHoldDate(state.dateField1, state.dateField2, state.dateField3))
        return Make(Outcome::Usage, "the file's date " + FileDateText(state) +
                                        " has a field above 255, which no switch can report" + instead);
    // The switch reports the date its firmware carries; a name sets none.
    if (state.infoBlock[0] == 0)
        return Make(Outcome::Usage, "the file's date " + FileDateText(state) +
                                        " comes from its name only (it has no info record), and a switch reports "
                                        "the date inside its firmware" + instead);
    return std::nullopt;
}

Verdict JudgeVerification(const RunFacts& facts, const VerifyRequest& request, const std::string& modelBefore)
{
    const OperationReport& report = facts.report;
    const std::string where = PortAndDevice(facts) + ": ";
    if (report.versionRead && !modelBefore.empty() && report.switchModel != modelBefore)
        return Make(Outcome::Unverified,
                    where + "another switch answered after the restart: it reports model " + report.switchModel +
                        ", the one upgraded reported " + modelBefore +
                        ". Check which switch the cable and the port reach, then run check");
    const bool dateCompared =
        report.comparison != VersionComparison::Unknown && report.comparison != VersionComparison::NotComparable;
    if (report.versionRead && dateCompared && report.comparison != VersionComparison::Same)
        return Make(Outcome::Unverified,
                    where + "the switch came back with " + SwitchDateText(report) + ", not the file's " +
                        facts.fileDate +
                        ": the new firmware did not take. Run the upgrade again; if the switch keeps that date, "
                        "check that the file is meant for it");
    // A date that cannot be compared is left to probe-only, which asks for
    // an answer and nothing more.
    if (report.versionRead && (dateCompared || request.probeOnly))
        return Make(Outcome::Done, "");
    if (report.restartAnswered)
        return Make(Outcome::Unverified,
                    where + "the switch answered after its restart but not the version request, so its firmware "
                            "is not confirmed: run check to read it");
    std::string cause = where + "no answer within " + std::to_string(request.limit.count()) +
        " s of the upgrade: the switch may still be restarting, or may not start. Keep its power and cable, run "
        "check in a while, and if it never answers, run the upgrade again";
    if (report.restartOpenFailed && !facts.openFailures.empty() &&
        facts.openFailures.back().portName == report.portName)
        cause += "; " + facts.openFailures.back().Describe();
    return Make(Outcome::Unverified, cause);
}

Verdict JudgeInterrupted(InterruptedDuring during)
{
    switch (during) {
    case InterruptedDuring::Transfer:
        return Make(Outcome::Interrupted,
                    "interrupted during the transfer: the switch may not start; run the upgrade again");
    case InterruptedDuring::RestartWait:
        return Make(Outcome::Interrupted,
                    "interrupted while waiting for the switch to restart: the upgrade was sent, but whether it "
                    "took is not known; run check to read the switch's date");
    case InterruptedDuring::Other:
        break;
    }
    return Make(Outcome::Interrupted, "interrupted");
}
