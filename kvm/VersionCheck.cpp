#include "kvm/KvmOperations.h"
#include "kvm/SystemTexts.h"
#include "kvm/VersionReply.h"
#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"
#include "serial/WireProtocol.h"

namespace {

using WireProtocol::kVersionReplyPause;
using WireProtocol::kVersionRequests;

constexpr std::uint8_t kNoFirmwareHalfModel = 10;

const char kDashes53[] = "-----------------------------------------------------";
const char kDashes56[] = "--------------------------------------------------------";

} // namespace

void KvmOperations::CheckVersion()
{
    m_lastCheckSucceeded = false;
    // The worker owns the port, the shared texts and the report until its
    // last act.
    if (WorkerRunning())
        return;
    ResetReport();
    BeginCheck();
    RunCheck();
    EndOperation();
}

void KvmOperations::StartCheckVersion()
{
    m_lastCheckSucceeded = false;
    if (WorkerRunning())
        return;
    JoinWorker();
    ResetReport();
    BeginCheck();
    const bool started = StartWorker([this] {
        RunCheck();
        return EndOperation();
    });
    if (!started)
        EndOperation();
}

void KvmOperations::BeginCheck()
{
    m_upgradeStarted = false;
    m_services.UpdateData();
    m_services.DisableButtons();
    m_state.portName = m_services.PortSelection();
    m_state.silentPortCount = 0;
    m_state.scanPortName[4] = '\0';
}

void KvmOperations::RunCheck()
{
    m_services.TrimLog();
    const int result = ProbeKvm(SelectedProbeMode());
    m_report.probeResult = result;
    if (result == kProbeFoundByScan || result == kProbeFoundOnNamedPort)
        QueryVersion();
    else if (result == kProbeScanFoundNothing)
        ReportNoSwitch();
    else
        ReportNoResponse(); // a named port silent or not opened: the log says the same
}

void KvmOperations::QueryVersion()
{
    Port()->Purge();
    m_services.TrimLog();
    m_state.logText += "Checking KVM version..";
    m_state.logLineCount += 2;
    m_services.SetStatus(m_state.firmwarePath);
    m_services.UpdateData();
    m_services.SetStatus(SystemTexts::kSearching);
    m_services.UpdateData();

    // The version request is the probe's byte; the switch answers it with
    // its version once it has found itself probed.
    std::uint8_t reply[kReplyBufferSize] = {};
    int count = 0;
    bool accepted = false;
    for (int attempt = 1; attempt <= kVersionRequests && !accepted; ++attempt) {
        m_state.logText += "..";
        m_services.UpdateData();
        // The frame layer cannot reach the shared reply buffer; a version
        // request leaves it cleared all the same. The switch needs time to
        // gather its version before it answers.
        m_state.replyBuffer[0] = 0;
        count = Exchange(m_state.probeCommand, 1, reply, WireProtocol::kProbeReplyWaitMs, kVersionReplyPause);
        // A reply cut before its date bytes cannot be compared with anything.
        accepted = count >= VersionReply::kMinimumLength && IsProbeAck(reply[0], m_state.ackSet);
        m_state.logText += accepted ? SystemTexts::kVerdictOk : "..";
        m_services.UpdateData();
    }

    if (!accepted) {
        m_state.logText += SystemTexts::kVerdictFailed;
        m_state.logText += "\n";
        m_services.SetStatus(SystemTexts::kNotFound);
    } else {
        const VersionReply kvm = VersionReply::Parse(reply, count);
        const std::string model = m_services.OutsideText(kvm.Model());
        m_report.versionRead = true;
        m_report.switchModel = model;
        for (int n = 1; n <= 3; ++n)
            m_report.switchDate[n - 1] = kvm.DateField(n);
        const bool dateKnown = m_state.firmwareDateKnown == 1;
        if (dateKnown && m_state.infoBlock[0] != kNoFirmwareHalfModel) {
            m_state.logLineCount = 0;
            m_state.logText = m_state.Format("Firmware : \t%02d-%02d-%02d \nModel : \t%s\n\n",
                                             static_cast<int>(m_state.dateField1),
                                             static_cast<int>(m_state.dateField2),
                                             static_cast<int>(m_state.dateField3),
                                             m_state.modelText.c_str());
            m_state.logLineCount += 2;
            m_state.logText += m_state.Format("KVM : \t\t%02d-%02d-%02d \nModel : \t%s\n", kvm.DateField(1),
                                              kvm.DateField(2), kvm.DateField(3), model.c_str());
            m_state.logLineCount += 4;
        } else {
            m_state.logText = m_state.Format("KVM Infomation\nModel : %s \nVersion : %02d-%02d-%02d",
                                             model.c_str(), kvm.DateField(1), kvm.DateField(2),
                                             kvm.DateField(3));
        }

        if (dateKnown) {
            // Field 3 is the most significant; the first field that differs decides.
            const int firmware[3] = {static_cast<int>(m_state.dateField3), static_cast<int>(m_state.dateField2),
                                     static_cast<int>(m_state.dateField1)};
            const int switchDate[3] = {kvm.DateField(3), kvm.DateField(2), kvm.DateField(1)};
            int order = 0;
            for (int i = 0; i < 3 && order == 0; ++i)
                order = firmware[i] > switchDate[i] ? 1 : firmware[i] < switchDate[i] ? -1 : 0;
            // The log keeps the switch's own words for the order of the fields;
            // the report says whether the two can be compared at all.
            const bool comparable =
                SwitchCanHoldDate(m_state.dateField1, m_state.dateField2, m_state.dateField3);
            m_report.comparison = !comparable ? VersionComparison::NotComparable
                                  : order > 0 ? VersionComparison::FileNewer
                                  : order < 0 ? VersionComparison::SwitchNewer
                                              : VersionComparison::Same;
            if (order > 0) {
                m_state.logText += m_state.Format(
                    "%s\nA newer version of KVM firmware is available.\nPress Upgrade to start upgrade.", kDashes53);
            } else if (order < 0) {
                m_state.logText += m_state.Format(
                    "%s\nKVM version is newer than firmware.\nDo you still want to upgrade?", kDashes53);
            } else {
                m_state.logText += "\nThe KVM firmware is up to date.";
            }
            m_state.logLineCount += 3;
        }

        const char* where =
            m_state.portName == kAutoPortSelection ? m_state.scanPortName : m_state.portName.c_str();
        m_services.SetStatus(m_state.Format("KVM version read from %s", where));
        m_lastCheckSucceeded = true;
    }

    m_services.UpdateData();
    Port()->Close();
}

void KvmOperations::ReportNoSwitch()
{
    m_state.logText = m_state.Format("%s\nTotal available COM : %d\nThere is no KVM detected on COM ports.",
                                     kDashes56, static_cast<int>(m_state.silentPortCount));
    if (m_state.silentPortCount != 0)
        m_state.logText += m_state.Format("\n%s\nThe passed COM is not connected with KVM\n", kDashes56);
    else
        m_state.logText += m_state.Format("\n%s\nNo Available COM port on your computer.", kDashes56);
    m_services.SetStatus(SystemTexts::kAssignPort);
    m_services.UpdateData();
}

void KvmOperations::ReportNoResponse()
{
    m_services.TrimLog();
    m_state.logText += "No KVM response.\nMake sure KVM is connected to COM port\nAnd try Auto scan mode.";
    m_services.UpdateData();
}
