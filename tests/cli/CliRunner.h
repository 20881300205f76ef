#pragma once

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// Runs the built kvm-upgrade-cli as a child process (a CliChild as it
// starts by default) and collects its output and exit status.
class CliRunner {
public:
    using Result = ChildProcess::Result;

    static Result Run(const std::vector<std::string>& args);
};
