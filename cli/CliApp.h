#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "cli/CliOptions.h"
#include "outcome/RunRecord.h"

struct SharedState;
class CSerialPort;
class CliServices;
class KvmOperations;
class Transcript;
struct CommandContext;

// kvm-upgrade-cli as a whole: parses the command line and runs the command,
// with its own shared state and its one serial port, created closed. main()
// only hands it the process's streams and its signals.
class CliApp {
public:
    CliApp(std::ostream& out, std::ostream& err, std::istream& in, bool errIsTerminal,
           bool inIsTerminal);
    ~CliApp();
    CliApp(const CliApp&) = delete;
    CliApp& operator=(const CliApp&) = delete;

    // out and err reach the same terminal or file.
    void SetSharedDestination(bool shared);
    // The width of the terminal that err shows on.
    void SetColumns(int columns);
    // What OnSignal runs last before the process ends: main() gives what
    // is still queued for the terminal a short, bounded chance to get out.
    void SetBeforeExit(std::function<void()> beforeExit);

    // Returns the process's exit status.
    int Run(int argc, const char* const argv[]);

    // SIGINT, SIGTERM or SIGHUP, on the signal watcher's thread. While the
    // upgrade worker sends, the first one only warns; otherwise the process
    // ends here with status 128 + signo, or, once the command has its
    // verdict, with the verdict's status.
    void OnSignal(int signo);

private:
    int Dispatch(int argc, const char* const argv[]);
    int UsageError(const CliOptions& options);
    int ListPorts(const std::string& listing);
    int RunCommand(const CliOptions& options, int argc, const char* const argv[]);
    int RunSwitchCommand(CommandContext& context);
    void SetOperations(KvmOperations* operations);
    void PrintReportLocked(); // the --json object, once; m_signalMutex held

    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
    const bool m_errIsTerminal;
    const bool m_inIsTerminal;
    // The shared state holds the fixed image and frame buffers: on the heap.
    std::unique_ptr<SharedState> m_state;
    std::unique_ptr<CSerialPort> m_port;
    std::unique_ptr<CliServices> m_services;
    std::unique_ptr<Transcript> m_transcript; // closed unless --log
    std::string m_jsonReport; // printed on the output stream at the very end
    RunRecord m_record;       // the command's, once it runs
    std::function<void()> m_beforeExit;

    // What the signal watcher looks at; the operations object lives only
    // while a check or an upgrade runs.
    std::mutex m_signalMutex;
    KvmOperations* m_operations = nullptr;
    bool m_interruptWarned = false;
    bool m_json = false;
    bool m_verdictGiven = false; // the command has ended; only its output remains
    int m_verdictStatus = 0;     // its exit status, once given
    bool m_reportPrinted = false;
    RunRecord m_interruptResult; // what the command has published of its result
};
