#include "cli/SwitchRun.h"

#include "cli/CliServices.h"
#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "serial/SystemPorts.h"

SwitchRun::SwitchRun(SharedState& state, CliServices& services, CSerialPort& port, bool verbose)
    : m_state(state), m_port(port)
{
    m_port.SetOpenFailureObserver([this, &services, verbose](const SerialError& error) {
        m_openFailures.push_back(error);
        // Each reason after the log entry of its port.
        if (verbose)
            services.QueueNote(PrintableText(error.Describe()));
    });
}

SwitchRun::~SwitchRun()
{
    m_port.SetOpenFailureObserver(nullptr);
}

RunFacts SwitchRun::Facts(const KvmOperations& operations) const
{
    RunFacts facts;
    facts.report = operations.LastReport();
    facts.openFailures = m_openFailures;
    facts.silentPorts = m_state.silentPortCount;
    if (!facts.report.portName.empty())
        facts.device = PortTable::Process().Resolve(facts.report.portName).value_or("");
    if (!facts.device.empty())
        facts.kernelConsole = SystemPorts::KernelConsoleOf(facts.device);
    facts.ioError = m_port.LastIoError();
    return facts;
}
