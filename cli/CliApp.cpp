#include "cli/CliApp.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <string_view>
#include <utility>

#include "cli/CheckCommand.h"
#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "cli/InfoCommand.h"
#include "cli/UpgradeCommand.h"
#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "kvm/Version.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "serial/SystemPorts.h"


namespace {

const char kInterruptWarning[] =
    "Interrupting the upgrade now can leave the switch unusable until it is upgraded again.\n"
    "The upgrade goes on; press Ctrl-C again to abort it.";
const char kUpgradeAborted[] =
    "Upgrade aborted: the switch did not receive the whole firmware and may not start.\n"
    "Run the upgrade again before switching it off.";
const char kInterrupted[] = "Interrupted.";

} // namespace

CliApp::CliApp(std::ostream& out, std::ostream& err, std::istream& in, bool errIsTerminal,
               bool inIsTerminal)
    : m_out(out), m_err(err), m_in(in), m_errIsTerminal(errIsTerminal),
      m_inIsTerminal(inIsTerminal), m_state(std::make_unique<SharedState>()),
      m_port(std::make_unique<CSerialPort>()),
      m_services(std::make_unique<CliServices>(*m_state, out, err, in, errIsTerminal, inIsTerminal))
{
    m_state->port = m_port.get();
}

CliApp::~CliApp() = default;

void CliApp::SetSharedDestination(bool shared)
{
    m_services->SetSharedDestination(shared);
}

void CliApp::SetColumns(int columns)
{
    m_services->SetColumns(columns);
}

void CliApp::SetBeforeExit(std::function<void()> beforeExit)
{
    std::lock_guard lock(m_signalMutex);
    m_beforeExit = std::move(beforeExit);
}

int CliApp::Run(int argc, const char* const argv[])
{
    const int status = Dispatch(argc, argv);
    m_services->Finish();
    return status;
}

int CliApp::Dispatch(int argc, const char* const argv[])
{
    CliOptions options;
    switch (options.Parse(argc, argv)) {
    case CliOptions::Action::Help:
        m_services->PrintText(CliOptions::HelpText());
        return kExitOk;
    case CliOptions::Action::Version:
        m_services->PrintLine(KVM_VERSION);
        return kExitOk;
    case CliOptions::Action::UsageError:
        // The error may quote a value given, a device's path for one.
        m_services->PrintError("kvm-upgrade-cli: " + PrintableText(options.Error()) + "\n" +
                               "Try 'kvm-upgrade-cli --help'.");
        return kExitUsage;
    case CliOptions::Action::ListPorts:
        options.ApplyPortTable();
        return ListPorts();
    case CliOptions::Action::Run:
        break;
    }
    return RunCommand(options);
}

int CliApp::ListPorts()
{
    const std::string listing = SystemPorts::Listing(PortTable::Process());
    if (listing.empty()) {
        m_services->PrintError("No serial ports.");
        return kExitOk;
    }
    // Line by line: a device's path from --map may hold any byte, but the
    // listing's own line ends stay.
    std::size_t start = 0;
    while (start < listing.size()) {
        const std::size_t end = std::min(listing.find('\n', start), listing.size());
        m_services->PrintLine(PrintableText(std::string_view(listing).substr(start, end - start)));
        start = end + 1;
    }
    return kExitOk;
}

int CliApp::RunCommand(const CliOptions& options)
{
    m_services->SetPortSelection(options.Port());
    m_services->SetAssumeYes(options.Yes());

    switch (options.GetCommand()) {
    case CliOptions::Command::Info:
        return RunInfoCommand(*m_state, *m_services, options.File(), options.Verbose());
    case CliOptions::Command::Check:
    case CliOptions::Command::Upgrade:
        return RunSwitchCommand(options);
    case CliOptions::Command::None:
        break;
    }
    return kExitUsage;
}

int CliApp::RunSwitchCommand(const CliOptions& options)
{
    options.ApplyPortTable();
    if (options.Verbose()) {
        // Every port that fails to open says why, after its log entry; the
        // probe opens ports on this thread only.
        m_port->SetOpenFailureObserver(
            [this](const SerialError& error) { m_services->QueueNote(PrintableText(error.Describe())); });
    }

    KvmOperations operations(*m_state, *m_services);
    SetOperations(&operations);
    int status = kExitFailed;
    if (options.GetCommand() == CliOptions::Command::Check) {
        status = RunCheckCommand(*m_state, *m_services, operations, options.File(), options.Verbose());
    } else {
        UpgradeRequest request;
        request.file = options.File();
        request.verbose = options.Verbose();
        request.assumeYes = options.Yes();
        request.inIsTerminal = m_inIsTerminal;
        status = RunUpgradeCommand(*m_state, *m_services, operations, request);
    }
    operations.WaitForWorker();
    SetOperations(nullptr);
    m_port->SetOpenFailureObserver(nullptr);
    if (options.Verbose() && status != kExitOk) {
        // A pulled cable and a silent switch leave the same log; the line's
        // last failure tells them apart. Read once the worker has been joined.
        const SerialError ioError = m_port->LastIoError();
        if (ioError.kind != SerialError::Kind::None)
            m_services->QueueNote(PrintableText(ioError.Describe()));
    }
    return status;
}

void CliApp::SetOperations(KvmOperations* operations)
{
    std::lock_guard lock(m_signalMutex);
    m_operations = operations;
}

void CliApp::OnSignal(int signo)
{
    std::lock_guard lock(m_signalMutex);
    const bool upgrading = m_operations != nullptr && m_operations->WorkerRunning();
    if (upgrading && !m_interruptWarned) {
        // Half an image leaves the switch without a firmware that starts:
        // one keystroke must not do that.
        m_interruptWarned = true;
        m_services->PrintError(kInterruptWarning);
        return;
    }
    m_services->Abandon(upgrading ? kUpgradeAborted : kInterrupted);
    // No destructors: the worker may be in the middle of a frame. The port's
    // descriptor goes with the process, but its exclusive flag and settings
    // stay with the line, and the next run (not as root) would find it busy.
    m_port->ReleaseForExit();
    if (m_beforeExit)
        m_beforeExit();
    std::_Exit(128 + signo);
}
