#pragma once

struct CommandContext;
class KvmOperations;
class RunObserver;

// kvm-upgrade-cli upgrade [--port NAME] [--yes] [--if-newer] FILE: Select
// File, then the Upgrade button, then waits for the transfer to end. A file
// that may not be sent ends the command before any port is opened. With
// --if-newer the switch's version is read first, and a file that is not newer
// ends the command with kExitNothingToDo, nothing sent but the probe and the
// version request. The confirmation is asked once, by the operation; without
// --yes and without a terminal to ask on the upgrade is refused.
//
// Returns kExitOk when the switch acknowledged the whole image; otherwise the
// status of the cause (CliExitCodes.h), said in one line on the error stream.
int RunUpgradeCommand(CommandContext& context, KvmOperations& operations, const RunObserver& run);
