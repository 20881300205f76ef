#include "cli/CliApp.h"

#include <istream>
#include <ostream>

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "cli/InfoCommand.h"
#include "kvm/SharedState.h"
#include "serial/PortTable.h"

#ifndef KVM_CLI_VERSION
#define KVM_CLI_VERSION "1.0.0.4"
#endif

CliApp::CliApp(std::ostream& out, std::ostream& err, std::istream& in, bool errIsTerminal,
               bool inIsTerminal)
    : m_out(out), m_err(err), m_in(in), m_errIsTerminal(errIsTerminal),
      m_inIsTerminal(inIsTerminal), m_state(std::make_unique<SharedState>())
{
}

CliApp::~CliApp() = default;

int CliApp::Run(int argc, const char* const argv[])
{
    CliOptions options;
    switch (options.Parse(argc, argv)) {
    case CliOptions::Action::Help:
        m_out << CliOptions::HelpText();
        return kExitOk;
    case CliOptions::Action::Version:
        m_out << KVM_CLI_VERSION << "\n";
        return kExitOk;
    case CliOptions::Action::UsageError:
        m_err << "kvm-upgrade-cli: " << options.Error() << "\n"
              << "Try 'kvm-upgrade-cli --help'.\n";
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
    const std::string listing = PortTable::Process().Listing();
    if (listing.empty())
        m_err << "No serial ports.\n";
    m_out << listing;
    if (!listing.empty() && listing.back() != '\n')
        m_out << "\n";
    return kExitOk;
}

int CliApp::RunCommand(const CliOptions& options)
{
    CliServices services(*m_state, m_out, m_err, m_in, m_errIsTerminal, m_inIsTerminal);
    services.SetPortSelection(options.Port());
    services.SetAssumeYes(options.Yes());

    switch (options.GetCommand()) {
    case CliOptions::Command::Info:
        return RunInfoCommand(*m_state, services, options.File(), options.Verbose());
    case CliOptions::Command::Check:
    case CliOptions::Command::Upgrade:
        options.ApplyPortTable();
        m_err << "kvm-upgrade-cli: not implemented yet\n";
        return kExitFailed;
    case CliOptions::Command::None:
        break;
    }
    return kExitUsage;
}
