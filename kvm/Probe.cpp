#include <cstdio>

#include "kvm/KvmOperations.h"
#include "kvm/SystemTexts.h"
#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"
#include "serial/PortTable.h"
#include "serial/WireProtocol.h"

namespace {

using WireProtocol::kBaudRate;
using WireProtocol::kOpenTimeoutMs;
using WireProtocol::kProbeAttempts;

} // namespace

// Sends the probe until the switch accepts it, attempts reaches limit, or
// both (attempts counts on from where it stands, and one probe always goes
// out). keepReplyLength leaves each reply's length in state.replyLength.
bool KvmOperations::RunProbeAttempts(int& attempts, int limit, bool keepReplyLength)
{
    bool accepted = false;
    do {
        const int count =
            Exchange(m_state.probeCommand, 1, m_state.replyBuffer, WireProtocol::kProbeReplyWaitMs);
        if (keepReplyLength)
            m_state.replyLength = count;
        ++attempts;
        accepted = count > 0 && IsProbeAck(m_state.replyBuffer[0], m_state.ackSet);
    } while (!accepted && attempts < limit);
    return accepted;
}

// A port that opened but gave no answer: counted, said, and closed again.
void KvmOperations::ReportSilentPort(const char* portName)
{
    m_state.logText += SystemTexts::kVerdictPassed;
    m_state.logText += "\n";
    ++m_state.silentPortCount;
    m_services.SetStatus(m_state.Format("%s is no KVM respondse.", portName));
    m_services.UpdateData();
    Port()->Close();
}

int KvmOperations::ProbeKvm(int mode)
{
    m_state.replyBuffer[0] = 0;
    int attempts = 0;

    if (mode == kProbeModeScan) {
        m_services.SetStatus(SystemTexts::kScanning);
        m_state.logText = "Scanning COM port \n";
        for (int number = 1; number <= PortTable::kMaxPort; ++number) {
            std::snprintf(m_state.portDigits, sizeof m_state.portDigits, "%d", number);
            m_state.scanPortName[3] = m_state.portDigits[0];
            // Written for COM1..COM9 too: a caller that forgot to clear it
            // after a scan that reached COM10 would otherwise open "COM11".
            m_state.scanPortName[4] = number >= 10 ? m_state.portDigits[1] : '\0';

            m_services.TrimLog();
            ++m_state.logLineCount;
            m_state.logText += m_state.Format("Opening %s ....................", m_state.scanPortName);
            m_services.UpdateData();

            if (!Port()->Open(m_state.scanPortName, kBaudRate, kOpenTimeoutMs)) {
                m_state.logText += SystemTexts::kVerdictFailed;
                m_state.logText += "\n";
                continue;
            }
            if (RunProbeAttempts(attempts, kProbeAttempts, false)) {
                m_state.logText += SystemTexts::kVerdictOk;
                m_state.logText += "\n";
                NoteSwitchPort(m_state.scanPortName);
                return kProbeFoundByScan;
            }
            ReportSilentPort(m_state.scanPortName);
        }
        return kProbeScanFoundNothing;
    }

    m_report.portName = m_state.portName;
    m_state.logText = m_state.Format("Checking %s ...................", m_state.portName.c_str());
    if (!Port()->Open(m_state.portName.c_str(), kBaudRate, kOpenTimeoutMs)) {
        m_state.logText += SystemTexts::kVerdictFailed;
        m_state.logText += "\n";
        return kProbeNamedPortFailed;
    }
    if (RunProbeAttempts(attempts, kProbeAttempts, true)) {
        NoteSwitchPort(m_state.portName);
        m_state.logText += SystemTexts::kVerdictOk;
        m_state.logText += "\n";
        m_services.UpdateData();
        return kProbeFoundOnNamedPort;
    }
    ReportSilentPort(m_state.portName.c_str());
    return kProbeNamedPortSilent;
}
