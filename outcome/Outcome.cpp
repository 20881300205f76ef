#include "outcome/Outcome.h"

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return "done";
    case Outcome::NothingToDo:
        return "nothing-to-do";
    case Outcome::Failed:
        return "failed";
    case Outcome::Declined:
        return "declined";
    case Outcome::Usage:
        return "usage";
    case Outcome::Refused:
        return "refused";
    case Outcome::PortUnavailable:
        return "port-unavailable";
    case Outcome::PortBusy:
        return "port-busy";
    case Outcome::NoSwitch:
        return "no-switch";
    case Outcome::TransferFailed:
        return "transfer-failed";
    case Outcome::Unverified:
        return "unverified";
    case Outcome::Interrupted:
        return "interrupted";
    }
    return "failed";
}
