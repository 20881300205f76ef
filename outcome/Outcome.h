#pragma once

// How a run of info, check or upgrade ended: the one closed list. The exit
// status follows from it (ExitStatusOf), and so does the word --json prints
// (OutcomeName), documented as stable in kvm-upgrade-cli(1).
enum class Outcome {
    Done,            // the file is valid, the version read, "Upgrade complete!"
    NothingToDo,     // the file is not newer, or its date is not known
    Failed,          // failed for another reason
    Declined,        // the confirmation was declined
    Usage,           // a bad command line, or no terminal to confirm on
    Refused,         // a file that may not be sent: nothing reached any port
    PortUnavailable, // the port cannot be opened: no device, no permission
    PortBusy,        // another program holds the port
    NoSwitch,        // no switch answered
    TransferFailed,  // failed once the upgrade had begun: the switch may not start
    Unverified,      // "Upgrade complete!", but the switch did not come back with the file's date
    Interrupted,     // a signal ended the run
};

inline constexpr Outcome kAllOutcomes[] = {
    Outcome::Done,     Outcome::NothingToDo,     Outcome::Failed,   Outcome::Declined,
    Outcome::Usage,    Outcome::Refused,         Outcome::PortUnavailable, Outcome::PortBusy,
    Outcome::NoSwitch, Outcome::TransferFailed,  Outcome::Unverified, Outcome::Interrupted,
};

// The exit status a script decides by; an interrupted run's is 128 plus the
// signal's number, as a shell reports it. 126 to 165 stay the shell's.
constexpr int ExitStatusOf(Outcome outcome, int signo = 0)
{
    switch (outcome) {
    case Outcome::Done:
        return 0;
    case Outcome::Failed:
    case Outcome::Declined:
        return 1;
    case Outcome::Usage:
    case Outcome::Refused:
        return 2;
    case Outcome::NothingToDo:
        return 3;
    case Outcome::PortUnavailable:
        return 4;
    case Outcome::PortBusy:
        return 5;
    case Outcome::NoSwitch:
        return 6;
    case Outcome::TransferFailed:
        return 7;
    case Outcome::Unverified:
        return 8;
    case Outcome::Interrupted:
        return 128 + signo;
    }
    return 1;
}

// "done", "nothing-to-do", "failed", "declined", "usage", "refused",
// "port-unavailable", "port-busy", "no-switch", "transfer-failed",
// "unverified", "interrupted".
const char* OutcomeName(Outcome outcome);
