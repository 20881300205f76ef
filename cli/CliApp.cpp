#include "cli/CliApp.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <system_error>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <string_view>
#include <utility>

#include "cli/CheckCommand.h"
#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "cli/CommandContext.h"
#include "outcome/RunRecord.h"
#include "cli/JsonReport.h"
#include "outcome/RunObserver.h"
#include "outcome/RunRecording.h"
#include "cli/Transcript.h"
#include "cli/TranscriptHeader.h"
#include "cli/InfoCommand.h"
#include "cli/UpgradeCommand.h"
#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "kvm/Version.h"
#include "serial/CSerialPort.h"
#include "serial/PortSettings.h"


namespace {

const char kInterruptWarning[] =
    "Interrupting the upgrade now can leave the switch unusable until it is upgraded again.\n"
    "The upgrade goes on; press Ctrl-C again to abort it.";
const char kUpgradeAborted[] =
    "Upgrade aborted: the switch did not receive the whole firmware and may not start.\n"
    "Run the upgrade again before switching it off.";
// Whether two paths name one file, also when neither exists yet (the
// transcript would create the one the other names).
bool SamePlace(const std::string& a, const std::string& b)
{
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error))
        return true;
    const std::filesystem::path first = std::filesystem::weakly_canonical(a, error);
    if (error)
        return false;
    const std::filesystem::path second = std::filesystem::weakly_canonical(b, error);
    return !error && first == second;
}

const char kInterrupted[] = "Interrupted.";
const char kInterruptedAfterUpgrade[] =
    "Interrupted while waiting for the switch to restart: the upgrade was sent, but whether it took is not\n"
    "known. Run check to read the switch's date.";

// After an abort, how long the transcript's last lines get to reach a disk
// that may have stalled.
constexpr std::chrono::milliseconds kTranscriptGrace{200};

const char kTranscriptUnfinished[] = "the run was interrupted before all of it was written";

} // namespace

CliApp::CliApp(std::ostream& out, std::ostream& err, std::istream& in, bool errIsTerminal,
               bool inIsTerminal)
    : m_out(out), m_err(err), m_in(in), m_errIsTerminal(errIsTerminal),
      m_inIsTerminal(inIsTerminal), m_state(std::make_unique<SharedState>()),
      m_port(std::make_unique<CSerialPort>()),
      m_services(std::make_unique<CliServices>(*m_state, out, err, in, errIsTerminal, inIsTerminal)),
      m_transcript(std::make_unique<Transcript>())
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
    {
        // From here on the run has its verdict: an interrupt only cuts the
        // output short, and must not print an object of its own.
        std::lock_guard lock(m_signalMutex);
        m_verdictGiven = true;
        m_verdictStatus = status;
    }
    m_services->Finish();
    if (m_transcript->IsOpen())
        m_transcript->Line("exit", TranscriptEndLine(m_record));
    // With the interrupt watcher still there, and not under its lock: a disk
    // that takes nothing is left with Ctrl-C.
    m_transcript->Drain();
    if (m_transcript->IsOpen()) {
        // A transcript that is not whole is no record to rely on: said, but
        // the switch's outcome stands.
        const std::string failure = m_transcript->Failure();
        if (!failure.empty())
            m_services->PrintError("kvm-upgrade-cli: --log " + PrintableText(m_record.logPath) +
                                   ": the transcript is incomplete: " + failure + " (the run's outcome stands)");
        RecordTranscript(m_record, m_record.logPath, failure);
    }
    std::lock_guard lock(m_signalMutex);
    if (!m_jsonReport.empty())
        m_jsonReport = JsonReport(m_record);
    PrintReportLocked();
    return status;
}

void CliApp::PrintReportLocked()
{
    if (m_jsonReport.empty() || m_reportPrinted)
        return;
    // Queued whole, under the lock that an interrupt takes first.
    m_out << m_jsonReport << "\n";
    m_out.flush();
    m_reportPrinted = true;
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
        return UsageError(options);
    case CliOptions::Action::ListPorts:
        return options.ApplyPortSettings() ? ListPorts(options.PortListing()) : UsageError(options);
    case CliOptions::Action::Run:
        break;
    }
    // info opens no port, so a bad settings file is no reason to refuse it.
    if (options.GetCommand() != CliOptions::Command::Info && !options.ApplyPortSettings())
        return UsageError(options);
    return RunCommand(options, argc, argv);
}

int CliApp::UsageError(const CliOptions& options)
{
    // The error may quote a value given, a device's path for one.
    m_services->PrintError("kvm-upgrade-cli: " + PrintableText(options.Error()) + "\n" +
                           "Try 'kvm-upgrade-cli --help'.");
    return kExitUsage;
}

int CliApp::ListPorts(const std::string& listing)
{
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

int CliApp::RunCommand(const CliOptions& options, int argc, const char* const argv[])
{
    m_services->SetPortSelection(options.Port());
    m_services->SetAssumeYes(options.Yes());
    m_services->SetQuiet(options.Quiet());

    RunRecord& result = m_record;
    result.command = options.GetCommand() == CliOptions::Command::Info    ? "info"
                     : options.GetCommand() == CliOptions::Command::Check ? "check"
                                                                          : "upgrade";
    {
        std::lock_guard lock(m_signalMutex);
        m_json = options.Json();
    }
    if (options.Json())
        m_services->SendOutputToErrorStream();
    if (!options.LogFile().empty()) {
        std::string error;
        std::error_code sameError;
        // /dev/stdout, or the file stdout was sent to: the object would be
        // lost among the transcript's lines. (No /dev/stdout on Windows: the
        // question is then never true.)
        if (options.Json() && std::filesystem::equivalent(options.LogFile(), "/dev/stdout", sameError)) {
            m_services->PrintError("kvm-upgrade-cli: --log " + PrintableText(options.LogFile()) +
                                   ": is where the JSON object goes (stdout)");
            return kExitUsage;
        }
        // A slip of tab completion must not append the transcript to the
        // only copy of the firmware, under its own name or another, nor to
        // the settings every later run reads.
        if (!options.File().empty() && SamePlace(options.LogFile(), options.File())) {
            m_services->PrintError("kvm-upgrade-cli: --log " + PrintableText(options.LogFile()) +
                                   ": is the firmware file; the transcript would damage it");
            return kExitUsage;
        }
        for (const std::string& settings : PortSettings::Files()) {
            if (SamePlace(options.LogFile(), settings)) {
                m_services->PrintError("kvm-upgrade-cli: --log " + PrintableText(options.LogFile()) +
                                       ": is a settings file (" + PrintableText(settings) +
                                       "); the transcript would damage it");
                return kExitUsage;
            }
        }
        if (!m_transcript->Open(options.LogFile(), error)) {
            m_services->PrintError("kvm-upgrade-cli: --log " + PrintableText(options.LogFile()) + ": " + error);
            return kExitUsage;
        }
        m_transcript->Line("begin", TranscriptBeginLine(argc, argv, options));
        // Until the transcript has reached its disk it is not known to be
        // whole: what an interrupt prints says so.
        RecordTranscript(result, options.LogFile(), kTranscriptUnfinished);
        m_services->SetTranscript(m_transcript.get());
        if (options.Verbose()) {
            m_port->SetTrafficObserver([this](bool sent, const std::uint8_t* data, std::size_t length) {
                m_transcript->Traffic(sent, data, length);
            });
        }
    }

    CommandContext context{*m_state, *m_services, options, result, m_inIsTerminal};
    context.publish = [this, &result] {
        std::lock_guard lock(m_signalMutex);
        m_interruptResult = result;
    };
    context.publish();
    // The status a command returns is its verdict's, which the record holds.
    if (options.GetCommand() == CliOptions::Command::Info)
        RunInfoCommand(context);
    else
        RunSwitchCommand(context);
    m_port->SetTrafficObserver(nullptr);
    if (options.Json())
        m_jsonReport = JsonReport(result);
    return result.ExitStatus();
}

int CliApp::RunSwitchCommand(CommandContext& context)
{
    CliServices& services = *m_services;
    // Each reason after the log entry of its port.
    RunObserver run(*m_state, *m_port, [&services, verbose = context.options.Verbose()](const SerialError& error) {
        if (verbose)
            services.QueueNote(PrintableText(error.Describe()));
    });
    KvmOperations operations(*m_state, *m_services);
    SetOperations(&operations);
    const int status = context.options.GetCommand() == CliOptions::Command::Check
        ? RunCheckCommand(context, operations, run)
        : RunUpgradeCommand(context, operations, run);
    operations.WaitForWorker();
    SetOperations(nullptr);
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
    m_services->Abandon(upgrading                               ? kUpgradeAborted
                        : !m_verdictGiven && m_interruptResult.awaitingRestart ? kInterruptedAfterUpgrade
                                                                               : kInterrupted);
    if (!m_verdictGiven) {
        // Whoever reads the object or the transcript must still learn how
        // the run ended; what the worker knows is not read while it may be
        // writing it, except what it acknowledged, which it keeps for this.
        RunRecord result = m_interruptResult;
        RecordInterrupt(result, signo, upgrading, upgrading ? m_operations->BlocksAcknowledgedSoFar() : 0,
                        upgrading ? m_operations->BytesAcknowledgedSoFar() : 0,
                        m_operations != nullptr ? m_operations->SwitchPortSoFar() : std::string());
        if (m_transcript->IsOpen())
            m_transcript->Line("exit", TranscriptEndLine(result));
        if (m_json) {
            m_out << JsonReport(result) << "\n";
            m_out.flush();
        }
    }
    // A verdict given stands: the interrupt only cut short the wait for a
    // transcript's disk or a terminal that stalled, and whoever reads the
    // object or the status must still learn how the upgrade ended.
    PrintReportLocked();
    m_transcript->DrainFor(kTranscriptGrace);
    // No destructors: the worker may be in the middle of a frame. The port's
    // descriptor goes with the process, but its exclusive flag and settings
    // stay with the line, and the next run (not as root) would find it busy.
    m_port->ReleaseForExit();
    if (m_beforeExit)
        m_beforeExit();
    std::_Exit(m_verdictGiven ? m_verdictStatus : 128 + signo);
}
