#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kvm/OperationReport.h"
#include "kvm/UpgradeOutcome.h"
#include "kvm/VersionComparison.h"
#include "outcome/Outcome.h"
#include "serial/SerialError.h"

// How a run ended: its outcome (and so its exit status) and one line that
// says why and what to do, shown with or without --verbose.
struct Verdict {
    Outcome outcome = Outcome::Failed;
    std::string cause; // empty when there is nothing to explain

    int ExitStatus() const { return ExitStatusOf(outcome); }
};

// What a run's front end saw besides the operations' report (RunObserver).
struct RunFacts {
    OperationReport report;
    std::vector<SerialError> openFailures; // every port that failed to open, in order
    int silentPorts = 0;                   // ports that opened and stayed silent
    std::string device;                    // the device behind report.portName
    std::string kernelConsole;             // that device's console name, when it is one
    SerialError ioError;                   // the line's last failure
};

// How the person at the front end answered the upgrade's confirmation.
struct Confirmation {
    bool assumeYes = false;   // --yes: nothing was asked
    bool onTerminal = false;  // someone could have been asked
};

// Null when a switch answered the probe; otherwise why none did.
std::optional<Verdict> JudgeProbe(const RunFacts& facts);

// check: done when the version was read, and with a file, nothing-to-do
// unless the file is newer.
Verdict JudgeCheck(const RunFacts& facts, bool fileGiven);

// upgrade, once its worker has ended, or once the button's part refused or
// was cancelled.
Verdict JudgeUpgrade(const RunFacts& facts, UpgradeOutcome outcome, const Confirmation& confirmation);

// A firmware file that may not be used: what says why is the file's own
// information text; what names what the run did not do.
Verdict JudgeRefusedFile(const std::string& what);

// A signal ended the run; during the transfer the switch may not start.
Verdict JudgeInterrupted(bool duringTransfer);
