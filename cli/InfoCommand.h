#pragma once

struct CommandContext;

// kvm-upgrade-cli info FILE: loads FILE as Select File does and prints the
// firmware information text, then the line for scripts
// "model-index=N family=N date-known=0|1 valid=0|1". Returns kExitOk for a
// file that may be sent, kExitInvalidFile otherwise.
int RunInfoCommand(CommandContext& context);
