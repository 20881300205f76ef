#pragma once

#include <string>
#include <vector>

// Runs the built kvm-upgrade-cli as a child process, stdin from /dev/null,
// and collects its output and exit status.
class CliRunner {
public:
    struct Result {
        int exitCode = -1; // -1 when it did not exit normally
        std::string out;
        std::string err;
    };

    static Result Run(const std::vector<std::string>& args);
};
