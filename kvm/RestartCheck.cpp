#include <thread>

#include "kvm/KvmOperations.h"
#include "kvm/SystemTexts.h"
#include "serial/CSerialPort.h"
#include "serial/Deadline.h"
#include "serial/WireProtocol.h"

bool KvmOperations::AwaitRestart(const std::string& portName, std::chrono::milliseconds limit)
{
    if (WorkerRunning())
        return false;
    JoinWorker();
    // What an earlier check of this run read is the switch before its
    // upgrade; from here on the report speaks of the restarted one.
    m_report.restartAwaited = true;
    m_report.restartAnswered = false;
    m_report.versionRead = false;
    m_report.switchModel.clear();
    m_report.comparison = VersionComparison::Unknown;
    m_state.portName = portName;
    NoteSwitchPort(portName);

    // One entry for the whole wait, in the probe's words.
    if (!m_state.logText.empty() && m_state.logText.back() != '\n')
        m_state.logText += "\n";
    m_state.logText += m_state.Format("Checking %s ...................", portName.c_str());
    ++m_state.logLineCount;
    m_services.UpdateData();

    const Deadline end = Deadline::In(limit);
    for (;;) {
        const Deadline nextTry = Deadline::Earlier(Deadline::In(WireProtocol::kRestartProbeInterval), end);
        // Opened afresh each time: the line may have gone with the switch.
        if (Port()->Open(portName.c_str(), WireProtocol::kBaudRate, WireProtocol::kOpenTimeoutMs)) {
            int attempts = 0;
            if (RunProbeAttempts(attempts, 1, false)) {
                if (!m_report.restartAnswered) {
                    m_state.logText += SystemTexts::kVerdictOk;
                    m_state.logText += "\n";
                }
                m_report.restartAnswered = true;
                QueryVersion(); // closes the port
                if (m_report.versionRead)
                    return true;
            } else {
                Port()->Close();
            }
        }
        if (end.Expired())
            break;
        std::this_thread::sleep_for(nextTry.Left());
        if (end.Expired())
            break;
    }
    if (!m_report.restartAnswered) {
        m_state.logText += SystemTexts::kVerdictFailed;
        m_state.logText += "\n";
    }
    m_services.UpdateData();
    return false;
}
