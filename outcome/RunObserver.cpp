#include "outcome/RunObserver.h"

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "outcome/CheckSummary.h"
#include "serial/CSerialPort.h"
#include "serial/SystemPorts.h"

RunObserver::RunObserver(SharedState& state, CSerialPort& port, OpenFailureHandler onOpenFailure)
    : m_state(state), m_port(port)
{
    m_port.SetOpenFailureObserver([this, onOpenFailure = std::move(onOpenFailure)](const SerialError& error) {
        m_openFailures.push_back(error);
        if (onOpenFailure)
            onOpenFailure(error);
    });
}

RunObserver::~RunObserver()
{
    m_port.SetOpenFailureObserver(nullptr);
}

RunFacts RunObserver::Facts(const KvmOperations& operations) const
{
    RunFacts facts;
    facts.report = operations.LastReport();
    facts.openFailures = m_openFailures;
    facts.silentPorts = m_state.silentPortCount;
    facts.device = DeviceOf(facts.report.portName);
    if (!facts.device.empty())
        facts.kernelConsole = SystemPorts::KernelConsoleOf(facts.device);
    facts.ioError = m_port.LastIoError();
    facts.fileDate = FileDateText(m_state);
    return facts;
}

std::string RunObserver::DeviceOf(const std::string& portName) const
{
    if (portName.empty())
        return {};
    if (m_port.LastOpenedPortName() == portName)
        return m_port.LastOpenedDevice();
    for (auto failure = m_openFailures.rbegin(); failure != m_openFailures.rend(); ++failure) {
        if (failure->portName == portName)
            return failure->device;
    }
    return {};
}
