#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kvm/OperationReport.h"
#include "kvm/UpgradeOutcome.h"
#include "kvm/VersionComparison.h"
#include "serial/SerialError.h"

struct CommandResult;

// How a check or an upgrade ended, in the three forms a caller reads: the
// exit status, a word for scripts (--json's "outcome") and one line that
// says why, shown with or without --verbose.
struct Verdict {
    int exitCode = 0;
    std::string outcome; // "done", "failed", "refused", "nothing-to-do", ...
    std::string cause;   // empty when there is nothing to explain
};

// What the command line saw of a run besides the operations' report.
struct RunFacts {
    OperationReport report;
    std::vector<SerialError> openFailures; // every port that failed to open, in order
    int silentPorts = 0;                   // ports that opened and stayed silent
    std::string device;                    // the device behind report.portName
    std::string kernelConsole;             // that device's console name, when it is one
    SerialError ioError;                   // the line's last failure
};

// Null when a switch answered the probe; otherwise why none did.
std::optional<Verdict> JudgeProbe(const RunFacts& facts);

// check: done when the version was read, and with a file, nothing-to-do
// unless the file is newer.
Verdict JudgeCheck(const RunFacts& facts, bool fileGiven);

// upgrade, after its worker has ended (outcome Complete or Failed).
Verdict JudgeUpgrade(const RunFacts& facts, UpgradeOutcome outcome);

// The verdict and the port it concerns, into the command's result; a port
// already recorded stays when this run tried none.
void RecordVerdict(CommandResult& result, const RunFacts& facts, const Verdict& verdict);

// "file-newer", "same", "switch-newer", "unknown".
std::string ComparisonName(VersionComparison comparison);

// The switch's date as the log shows it, "DD-MM-YY".
std::string SwitchDateText(const OperationReport& report);

// The one-line summary of a version check, e.g.
// "COM1: switch firmware 07-12-25 (PZN442), file 7-12-25: the same date."
std::string CheckSummary(const OperationReport& report, bool fileGiven, const std::string& fileVersion);
