#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// The built kvm-upgrade-cli running as a child process: stdin from
// /dev/null, stdout into a file, stderr through a pipe that the test reads
// while the child runs, so that it can wait for what the child says.
class CliChild : public ChildProcess {
public:
    // How the child starts, when not as above.
    struct Setup {
        enum class Out {
            File,       // read back by Wait()
            Closed,     // started with descriptor 1 closed (>&-)
            ReaderGone, // a pipe whose reader has gone (| head -1 that ended)
        };
        Out out = Out::File;
        // >= 0: stdout and stderr both on this descriptor (a terminal that
        // the test controls); nothing of them is read here.
        int terminal = -1;
        // > 0: the child runs as this user (through setpriv).
        uid_t user = 0;
    };

    explicit CliChild(const std::vector<std::string>& args);
    CliChild(const std::vector<std::string>& args, const Setup& setup);
};
