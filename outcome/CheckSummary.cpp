#include "outcome/CheckSummary.h"

#include <cstdio>

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
