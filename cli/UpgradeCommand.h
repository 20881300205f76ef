#pragma once

#include <string>

struct SharedState;
class CliServices;
class KvmOperations;

// kvm-upgrade-cli upgrade [--port NAME] [--yes] FILE: Select File, then the
// Upgrade button, then waits for the transfer to end. A file that may not be
// sent ends the command before any port is opened. The confirmation is asked
// once, by the operation; without --yes and without a terminal to ask on the
// upgrade is refused.
struct UpgradeRequest {
    std::string file;
    bool verbose = false;
    bool assumeYes = false;
    bool inIsTerminal = false;
};

// Returns kExitOk when the switch acknowledged the whole image, kExitFailed
// when the upgrade failed or the user declined it, kExitUsage when it could
// not be confirmed, kExitInvalidFile for a bad file.
int RunUpgradeCommand(SharedState& state, CliServices& services, KvmOperations& operations,
                      const UpgradeRequest& request);
