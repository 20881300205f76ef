#include <thread>

#include "kvm/KvmOperations.h"
#include "kvm/SystemTexts.h"
#include "serial/CSerialPort.h"
#include "serial/Deadline.h"
#include "serial/WireProtocol.h"

namespace {

// A reading with another date than the file's may still be the old
// firmware, answering once more before the switch resets.
bool MayBeTheOldFirmware(VersionComparison comparison)
{
    return comparison == VersionComparison::FileNewer || comparison == VersionComparison::SwitchNewer;
}

} // namespace

bool KvmOperations::AwaitRestart(const std::string& portName, std::chrono::milliseconds limit)
{
    if (WorkerRunning())
        return false;
    JoinWorker();
    // What an earlier check of this run read is the switch before its
    // upgrade; from here on the report speaks of the restarted one.
    m_report.restartAwaited = true;
    m_report.restartAnswered = false;
    m_report.restartOpenFailed = false;
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
    bool anotherDateSeen = false;
    for (;;) {
        Deadline nextTry = Deadline::Earlier(Deadline::In(WireProtocol::kRestartProbeInterval), end);
        // Opened afresh each time: the line may have gone with the switch.
        m_report.restartOpenFailed =
            !Port()->Open(portName.c_str(), WireProtocol::kBaudRate, WireProtocol::kOpenTimeoutMs);
        if (!m_report.restartOpenFailed) {
            int attempts = 0;
            if (RunProbeAttempts(attempts, 1, false)) {
                if (!m_report.restartAnswered) {
                    m_state.logText += SystemTexts::kVerdictOk;
                    m_state.logText += "\n";
                }
                m_report.restartAnswered = true;
                QueryVersion(); // closes the port
                // Another date is read once more, a while later, before it
                // counts: the reset may not have come yet.
                if (m_report.versionRead && (!MayBeTheOldFirmware(m_report.comparison) || anotherDateSeen))
                    return true;
                if (m_report.versionRead) {
                    anotherDateSeen = true;
                    nextTry = Deadline::Earlier(Deadline::In(WireProtocol::kRestartRecheckDelay), end);
                }
            } else {
                Port()->Close();
            }
        }
        if (end.Expired())
            break;
        std::this_thread::sleep_for(nextTry.Left());
        if (end.Expired() && !anotherDateSeen)
            break;
    }
    if (!m_report.restartAnswered) {
        m_state.logText += SystemTexts::kVerdictFailed;
        m_state.logText += "\n";
    }
    m_services.UpdateData();
    return m_report.versionRead;
}
