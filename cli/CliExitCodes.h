#pragma once

// The exit status says why a command ended, so that a script can decide
// without reading the text. 126 to 165 stay the shell's and the signals'.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;          // failed for another reason, or the confirmation declined
inline constexpr int kExitUsage = 2;           // a bad command line
inline constexpr int kExitInvalidFile = 2;     // a file that may not be sent
inline constexpr int kExitNothingToDo = 3;     // the switch's firmware is as new as the file's, or newer
inline constexpr int kExitPortUnavailable = 4; // the port cannot be opened: no device, no permission
inline constexpr int kExitPortBusy = 5;        // another program holds the port
inline constexpr int kExitNoSwitch = 6;        // no switch answered
inline constexpr int kExitTransferFailed = 7;  // failed once the upgrade had begun: run it again
