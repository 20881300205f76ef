#pragma once

struct CommandContext;
class KvmOperations;
class RunObserver;

// kvm-upgrade-cli upgrade [--port NAME] [--yes] [--if-newer] [--verify[=WHAT]]
// FILE: Select File, then the Upgrade button, then waits for the transfer to
// end. A file that may not be sent ends the command before any port is
// opened, and so does --verify for a file whose date no switch can confirm.
// With --if-newer, or when someone is to be asked, the switch's version is
// read first: the question then names the port, the switch and both dates,
// and --if-newer ends a file that is not newer with nothing sent but the
// probe and the version request. The confirmation is asked once, by the
// operation; without --yes and without a terminal to ask on the upgrade is
// refused. With --verify, "Upgrade complete!" is followed by the wait for
// the switch to restart and the comparison of its date with the file's.
//
// Returns the exit status of the run's verdict; a cause is said in one line
// on the error stream.
int RunUpgradeCommand(CommandContext& context, KvmOperations& operations, const RunObserver& run);
