#pragma once

struct CommandContext;
class KvmOperations;
class RunObserver;

// kvm-upgrade-cli check [--port NAME] [--file FILE]: the Check Version button.
// With a file, loads it first as Select File does, so that the switch's date
// is compared with the file's; a file that may not be sent cannot be compared
// and ends the command before any port is opened. Says the outcome in one
// line on the error stream, whatever the verbosity. Returns kExitOk when the
// version was read (and, with a file, the file is newer), kExitNothingToDo
// when the file is not newer, else the exit status of the failure's cause.
int RunCheckCommand(CommandContext& context, KvmOperations& operations, const RunObserver& run);

// The switch's side of a finished check, into the result; the verdict's
// status. Shared with upgrade --if-newer.
int ConcludeCheck(CommandContext& context, const KvmOperations& operations, const RunObserver& run);
