#pragma once

// How the last press of Upgrade ended, for front ends that report a result
// (the command line's exit status). None while a run is in progress and
// before the first one.
enum class UpgradeOutcome {
    None,
    Refused,   // no valid firmware file selected
    Cancelled, // the user declined the confirmation
    Complete,  // every block acknowledged and the end-of-image frame sent
    Failed,    // the worker ended on any of its failure paths
};
