#include "outcome/CheckSummary.h"

#include <cstdio>

#include "firmware/FirmwareInfo.h"
#include "kvm/SharedState.h"
#include "outcome/RunRecord.h"

std::string ComparisonName(VersionComparison comparison)
{
    switch (comparison) {
    case VersionComparison::FileNewer:
        return "file-newer";
    case VersionComparison::Same:
        return "same";
    case VersionComparison::SwitchNewer:
        return "switch-newer";
    case VersionComparison::NotComparable:
        return "not-comparable";
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

std::string FileDateText(const SharedState& state)
{
    if (state.firmwareDateKnown != 1)
        return {};
    return DateFieldsText(state.dateField1, state.dateField2, state.dateField3);
}

namespace {

// How the two dates stand, after "the switch's ..., the file's ...: ".
std::string ComparisonWords(VersionComparison comparison)
{
    switch (comparison) {
    case VersionComparison::FileNewer:
        return "the file is newer.";
    case VersionComparison::Same:
        return "the same date.";
    case VersionComparison::SwitchNewer:
        return "the switch's firmware is newer.";
    case VersionComparison::NotComparable:
        return "the two cannot be compared: the file's date has a field above 255, which no switch can report.";
    case VersionComparison::Unknown:
        break;
    }
    return "the file's date is not known, so the two cannot be compared.";
}

} // namespace

std::string CheckSummary(const OperationReport& report, bool fileGiven, const std::string& fileDate)
{
    std::string summary = report.portName + ": switch firmware " + SwitchDateText(report);
    if (!report.switchModel.empty())
        summary += " (" + report.switchModel + ")";
    if (!fileGiven)
        return summary + ".";
    summary += ", file " + (fileDate.empty() ? std::string("of unknown date") : fileDate) + ": ";
    return summary + ComparisonWords(report.comparison);
}

std::string UpgradeQuestion(const RunRecord& record)
{
    const std::string port =
        record.portDevice.empty() ? record.portName : record.portName + " (" + record.portDevice + ")";
    const std::string file = record.fileDate.empty() ? "of unknown date" : record.fileDate;
    std::string question = "Upgrade the switch on " + port;
    if (!record.switchModel.empty())
        question += ", " + record.switchModel + ",";
    question += " from " + record.switchDate + " to the file's " + file + "?";
    switch (record.comparison) {
    case VersionComparison::FileNewer:
        return question;
    case VersionComparison::Same:
        return question + "\nThe switch already has " + record.switchDate + "; the file is the same date.";
    case VersionComparison::SwitchNewer:
        return question + "\nThe switch's firmware " + record.switchDate + " is newer than the file's " + file + ".";
    case VersionComparison::NotComparable:
    case VersionComparison::Unknown:
        break;
    }
    return question + "\nThe file may not be newer: " + ComparisonWords(record.comparison);
}

std::string VerificationSummary(const RunRecord& record)
{
    const std::string model = record.switchAfterModel.empty() ? "" : " " + record.switchAfterModel;
    if (!record.switchAfterRead)
        return "verified: " + record.portName + " switch answers again after its restart (its date was not read)";
    const std::string asBefore =
        record.switchRead && record.switchDate == record.switchAfterDate ? " (as before the upgrade)" : "";
    return "verified: " + record.portName + " switch" + model + " now reports " + record.switchAfterDate + asBefore;
}
