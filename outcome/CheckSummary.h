#pragma once

#include <string>

#include "kvm/OperationReport.h"
#include "kvm/VersionComparison.h"

// The comparison of a version check in the words a person and a script read.

// "file-newer", "same", "switch-newer", "unknown".
std::string ComparisonName(VersionComparison comparison);

// The switch's date as the log shows it, "DD-MM-YY".
std::string SwitchDateText(const OperationReport& report);

// The one-line summary of a version check, e.g.
// "COM1: switch firmware 07-12-25 (PZN442), file 7-12-25: the same date."
std::string CheckSummary(const OperationReport& report, bool fileGiven, const std::string& fileVersion);
