#pragma once

#include "outcome/Outcome.h"

// The exit statuses the command line returns before any run has a verdict
// of its own (a bad option, --list-ports); every one follows from its
// outcome, whose table is the one rule.
inline constexpr int kExitOk = ExitStatusOf(Outcome::Done);
inline constexpr int kExitUsage = ExitStatusOf(Outcome::Usage);
inline constexpr int kExitInvalidFile = ExitStatusOf(Outcome::Refused);
