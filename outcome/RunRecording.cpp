#include "outcome/RunRecording.h"

#include <filesystem>
#include <system_error>

#include "firmware/Crc16.h"
#include "firmware/PrintableText.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"
#include "outcome/CheckSummary.h"
#include "serial/PortTable.h"

void RecordFile(RunRecord& record, const std::string& path, const FileSelection& selection,
                const SharedState& state)
{
    const FirmwareFileResult& read = selection.read;
    record.fileGiven = true;
    record.filePath = path;
    record.fileSize = read.size;
    if (read.error == FirmwareFileResult::Error::TooLarge) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        if (!error)
            record.fileSize = size;
    }
    if (selection.valid && state.checkedImage.size() >= 2)
        record.fileCrc16 = Crc16(state.checkedImage.data(), static_cast<std::uint32_t>(state.checkedImage.size() - 2));
    record.fileModel = selection.valid ? state.modelText : "";
    // Without a known date the loader's text says so in words, which is no
    // version for a script to compare.
    record.fileVersion = selection.valid && state.firmwareDateKnown == 1 ? state.versionText : "";
    record.fileDate = selection.valid ? FileDateText(state) : "";
    record.fileValid = selection.valid;
    if (selection.valid)
        return;
    // What the information text gives as the reason ("CRC error.", "File is
    // empty."), or why the file could not be read at all.
    std::string why = read.Ok() ? state.modelText + " " + state.versionText : read.Describe();
    // One line, as the information text's model and version lines say it.
    for (char& c : why) {
        if (c == '\n' || c == '\t')
            c = ' ';
    }
    for (std::size_t at = why.find("  "); at != std::string::npos; at = why.find("  "))
        why.erase(at, 1);
    record.cause = PrintableText(path) + " is no valid firmware file: " + PrintableText(why);
}

void RecordRefusedFile(RunRecord& record)
{
    record.outcome = Outcome::Refused;
}

void RecordSwitchPort(RunRecord& record, const std::string& portName, const std::string& device)
{
    record.portOpened = true;
    record.portName = portName;
    record.portDevice = device;
}

void RecordVerdict(RunRecord& record, const RunFacts& facts, const Verdict& verdict)
{
    const OperationReport& report = facts.report;
    // A port already recorded stays when this part of the run tried none.
    if (!report.portName.empty())
        RecordSwitchPort(record, report.portName, facts.device);
    record.outcome = verdict.outcome;
    record.cause = verdict.cause;
    if (report.versionRead) {
        record.switchRead = true;
        record.switchModel = report.switchModel;
        record.switchDate = SwitchDateText(report);
        record.comparison = report.comparison;
    }
    record.blocksSent = report.blocksAcknowledged;
    record.bytesSent = report.bytesAcknowledged;
    record.resends = report.resends;
    record.rejections = report.rejections;
}

void RecordAwaitingRestart(RunRecord& record)
{
    record.verified = false;
    record.awaitingRestart = true;
}

void RecordVerification(RunRecord& record, const RunFacts& facts, const Verdict& verdict)
{
    const OperationReport& report = facts.report;
    record.awaitingRestart = false;
    record.outcome = verdict.outcome;
    record.cause = verdict.cause;
    record.verified = verdict.outcome == Outcome::Done;
    record.switchAfterRead = report.versionRead;
    if (report.versionRead) {
        record.switchAfterModel = report.switchModel;
        record.switchAfterDate = SwitchDateText(report);
    }
}

void RecordTranscript(RunRecord& record, const std::string& path, const std::string& failure)
{
    record.logPath = path;
    record.logFailure = failure;
}

void RecordInterrupt(RunRecord& record, int signo, bool duringTransfer, std::uint32_t blocksAcknowledged,
                     std::uint32_t bytesAcknowledged, const std::string& portName)
{
    const Verdict verdict = JudgeInterrupted(duringTransfer            ? InterruptedDuring::Transfer
                                             : record.awaitingRestart ? InterruptedDuring::RestartWait
                                                                      : InterruptedDuring::Other);
    record.outcome = verdict.outcome;
    record.signo = signo;
    record.cause = verdict.cause;
    if (duringTransfer) {
        record.blocksSent = blocksAcknowledged;
        record.bytesSent = bytesAcknowledged;
    }
    if (!record.portOpened && !portName.empty())
        RecordSwitchPort(record, portName, PortTable::Process().Resolve(portName).value_or(""));
}
