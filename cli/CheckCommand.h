#pragma once

#include <string>

struct SharedState;
class CliServices;
class KvmOperations;

// kvm-upgrade-cli check [--port NAME] [--file FILE]: the Check Version button.
// With a file, loads it first as Select File does, so that the switch's date
// is compared with the file's; a file that may not be sent cannot be compared
// and ends the command before any port is opened. Returns kExitOk when the
// switch's version was read, kExitFailed when not, kExitInvalidFile for a bad
// file.
int RunCheckCommand(SharedState& state, CliServices& services, KvmOperations& operations,
                    const std::string& file, bool verbose);
