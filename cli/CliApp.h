#pragma once

#include <iosfwd>
#include <memory>

#include "cli/CliOptions.h"

struct SharedState;

// kvm-upgrade-cli as a whole: parses the command line and runs the command,
// with its own shared state. main() only hands it the process's streams.
class CliApp {
public:
    CliApp(std::ostream& out, std::ostream& err, std::istream& in, bool errIsTerminal,
           bool inIsTerminal);
    ~CliApp();
    CliApp(const CliApp&) = delete;
    CliApp& operator=(const CliApp&) = delete;

    // Returns the process's exit status.
    int Run(int argc, const char* const argv[]);

private:
    int ListPorts();
    int RunCommand(const CliOptions& options);

    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
    const bool m_errIsTerminal;
    const bool m_inIsTerminal;
    // The shared state holds the fixed image and frame buffers: on the heap.
    std::unique_ptr<SharedState> m_state;
};
