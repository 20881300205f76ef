#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "kvm/OperationReport.h"
#include "kvm/UpgradeOutcome.h"
#include "kvm/VersionComparison.h"
#include "outcome/Outcome.h"
#include "serial/SerialError.h"
#include "serial/WireProtocol.h"

struct SharedState;

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
    std::string fileDate;                  // the file's date as compared ("D-M-Y"); empty when not known
};

// What --verify asks once the upgrade has said "Upgrade complete!".
struct VerifyRequest {
    bool asked = false;
    bool probeOnly = false; // that the switch answers again is all that is checked
    std::chrono::seconds limit = WireProtocol::kRestartWaitDefault;
};

// Where a signal found the run.
enum class InterruptedDuring {
    Other,
    Transfer,    // the switch may not start
    RestartWait, // the upgrade was sent; whether it took is not known
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

// --verify for a file whose date no switch can confirm (none is known, a
// field is above 255, or it comes from the file's name only): refused before
// anything is sent, unless only a reply is asked for. Null when the request
// may go ahead.
std::optional<Verdict> JudgeVerifyRequest(const SharedState& state, const VerifyRequest& request);

// The switch after its restart (KvmOperations::AwaitRestart): done when it
// came back with the file's date, or, with probeOnly and a file date that
// cannot be compared, when it answered the version request at all; else
// unverified, with what was seen and what to do. modelBefore is the model
// the switch reported before the upgrade (empty when not read): a switch
// that answers with another is not the one upgraded.
Verdict JudgeVerification(const RunFacts& facts, const VerifyRequest& request, const std::string& modelBefore);

// A signal ended the run.
Verdict JudgeInterrupted(InterruptedDuring during);
