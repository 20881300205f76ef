#pragma once

#include <string>

#include "kvm/OperationReport.h"
#include "kvm/VersionComparison.h"

// The comparison of a version check in the words a person and a script read.

struct SharedState;
struct RunRecord;

// "file-newer", "same", "switch-newer", "not-comparable", "unknown".
std::string ComparisonName(VersionComparison comparison);

// The switch's date as the log shows it, "DD-MM-YY".
std::string SwitchDateText(const OperationReport& report);

// The loaded file's date fields as they are compared, "D-M-Y"; empty when
// the file's date is not known.
std::string FileDateText(const SharedState& state);

// The one-line summary of a version check, e.g.
// "COM1: switch firmware 07-12-25 (PZN442), file 7-12-25: the same date."
// fileDate is FileDateText's.
std::string CheckSummary(const OperationReport& report, bool fileGiven, const std::string& fileDate);

// What the upgrade's question adds to the confirmation once the switch's
// version has been read: which switch, both dates, and plainly when the file
// is not newer.
std::string UpgradeQuestion(const RunRecord& record);

// The line that says a verified upgrade took, e.g.
// "verified: COM1 switch PZN442 now reports 14-03-26".
std::string VerificationSummary(const RunRecord& record);
