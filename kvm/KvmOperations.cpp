#include "kvm/KvmOperations.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <system_error>

#include "firmware/Crc16.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareLoader.h"
#include "kvm/OperationTexts.h"
#include "kvm/VersionReply.h"
#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"

namespace {

constexpr int kBaudRate = 115200;
constexpr int kOpenTimeoutMs = 1000;

// A probe (and a version request) is tried at most this often on the first
// port that opens; the count is kept per call, not per port.
constexpr int kProbeAttempts = 4;
constexpr int kProbeReplyWaitMs = 100;

constexpr int kVersionRequests = 3;
constexpr auto kVersionReplyPause = std::chrono::milliseconds(800);
constexpr std::uint8_t kNoFirmwareHalfModel = 10;

constexpr int kResearchAttempts = 3;
constexpr int kHandshakeReplyWaitMs = 1200;
constexpr int kReadyProbes = 3;
constexpr std::uint8_t kGoAheadWaits = 3;
constexpr auto kGoAheadPause = std::chrono::milliseconds(500);
constexpr int kBlockReplyWaitMs = 20;
// What a silent block attempt costs on a live line: the first byte of a reply
// is awaited for twice the time-out. A line that has gone away answers every
// read at once; without this floor the resends would spin and flood the
// front end with updates until the silence limit.
constexpr auto kSilentAttemptFloor = std::chrono::milliseconds(2 * kBlockReplyWaitMs);
constexpr std::uint32_t kBlockDataSize = 256;
// A rejected block is sent again until retryCount passes this.
constexpr std::uint8_t kRejectionLimit = 4;
constexpr int kProgressDotStep = 15;
constexpr int kProgressDotsMax = 12;

constexpr std::uint8_t kGoAhead = 0xF0;
constexpr std::uint8_t kDataBlockCommand = 0x03;
constexpr std::uint8_t kEndOfImageCommand = 0x05;

constexpr auto kTrimPause = std::chrono::milliseconds(800);

const char kAutoSelection[] = "AUTO";

const char kRefusalUsage[] =
    "Usage:\n\t1.Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3.Click Upgrade button.";
const char kConfirmText[] =
    "During firmware upgrade, video, keyboard and mouse\nwill be locked up before KVM reset.";

const char kVerdictOk[] = "[   OK   ]";
const char kVerdictFailed[] = "[ Failed ]";

const char kSearchingStatus[] = "Searching KVM..Plesase Wait";
const char kNotFoundStatus[] = "Couldn't find KVM";
const char kTimeoutStatus[] = "transmition timeout, upgrade fail.";

const char kDashes53[] = "-----------------------------------------------------";
const char kDashes56[] = "--------------------------------------------------------";

} // namespace

void ApplyTrimLog(SharedState& state, DialogServices& services)
{
    if (state.logLineCount < 7)
        return;
    std::this_thread::sleep_for(kTrimPause);
    state.logText.clear();
    services.UpdateData();
    state.logLineCount = 0;
}

KvmOperations::KvmOperations(SharedState& state, DialogServices& services)
    : m_state(state), m_services(services)
{
}

KvmOperations::~KvmOperations()
{
    JoinWorker();
}

void KvmOperations::AppendLog(const char* text)
{
    m_state.logText += m_state.Format("%s", text);
}

// A frame that did not go out whole (a line that never fell silent, a write
// that failed) has no reply: whatever the line holds would otherwise be taken
// for one. Returns ReceiveReply's count, 0 with the no-reply marker in
// reply[0] when the frame did not go out.
int KvmOperations::Exchange(const std::uint8_t* payload, int length, std::uint8_t* reply,
                            int firstByteTimeoutMs, std::chrono::milliseconds pause)
{
    const bool sent = SendFrame(Port(), payload, length) == 1;
    if (pause.count() > 0)
        std::this_thread::sleep_for(pause);
    if (!sent) {
        reply[0] = kNoReplyMarker;
        return 0;
    }
    return ReceiveReply(Port(), reply, firstByteTimeoutMs);
}

// ---------------------------------------------------------------------------
// Probe

bool KvmOperations::RunProbeAttempts(int& attempts, bool named)
{
    bool accepted = false;
    do {
        const int count = Exchange(m_state.probeCommand, 1, m_state.replyBuffer, kProbeReplyWaitMs);
        if (named)
            m_state.replyLength = count;
        ++attempts;
        accepted = count > 0 && IsProbeAck(m_state.replyBuffer[0], m_state.ackSet);
    } while (!accepted && attempts < kProbeAttempts);
    return accepted;
}

int KvmOperations::ProbeKvm(int mode)
{
    m_state.replyBuffer[0] = 0;
    int attempts = 0;

    if (mode == 1) {
        m_services.SetStatus("Auto Scaning COM ports.");
        m_state.logText = "Scanning COM port \n";
        for (int number = 1; number <= 12; ++number) {
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
                m_state.logText += "[ Failed ]\n";
                continue;
            }
            if (RunProbeAttempts(attempts, false)) {
                m_state.logText += "[   OK   ]\n";
                return kProbeFoundByScan;
            }
            m_state.logText += "[ Passed ]\n";
            ++m_state.silentPortCount;
            m_services.SetStatus(m_state.Format("%s is no KVM respondse.", m_state.scanPortName));
            m_services.UpdateData();
            Port()->Close();
        }
        return kProbeScanFoundNothing;
    }

    m_state.logText = m_state.Format("Checking %s ...................", m_state.portName.c_str());
    if (!Port()->Open(m_state.portName.c_str(), kBaudRate, kOpenTimeoutMs)) {
        m_state.logText += "[ Failed ]\n";
        return kProbeNamedPortFailed;
    }
    if (RunProbeAttempts(attempts, true)) {
        m_state.logText += "[   OK   ]\n";
        m_services.UpdateData();
        return kProbeFoundOnNamedPort;
    }
    m_state.logText += "[ Passed ]\n";
    ++m_state.silentPortCount;
    m_services.SetStatus(m_state.Format("%s is no KVM respondse.", m_state.portName.c_str()));
    m_services.UpdateData();
    Port()->Close();
    return kProbeNamedPortSilent;
}

// ---------------------------------------------------------------------------
// Version check

void KvmOperations::CheckVersion()
{
    m_lastCheckSucceeded = false;
    // The worker owns the port and the shared texts until its last act.
    if (WorkerRunning())
        return;
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
    const int result = ProbeKvm(m_state.portName == kAutoSelection ? 1 : 2);
    if (result == kProbeFoundByScan || result == kProbeFoundOnNamedPort)
        QueryVersion();
    else if (result == kProbeScanFoundNothing)
        ReportNoSwitch();
    else
        ReportNoResponse();
}

void KvmOperations::QueryVersion()
{
    Port()->Purge();
    m_services.TrimLog();
    m_state.logText += "Checking KVM version..";
    m_state.logLineCount += 2;
    m_services.SetStatus(m_state.firmwarePath);
    m_services.UpdateData();
    m_services.SetStatus(kSearchingStatus);
    m_services.UpdateData();

    const std::uint8_t request[1] = {0x01};
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
        count = Exchange(request, 1, reply, kProbeReplyWaitMs, kVersionReplyPause);
        // A reply cut before its date bytes cannot be compared with anything.
        accepted = count >= VersionReply::kMinimumLength && IsProbeAck(reply[0], m_state.ackSet);
        m_state.logText += accepted ? kVerdictOk : "..";
        m_services.UpdateData();
    }

    if (!accepted) {
        m_state.logText += "[ Failed ]\n";
        m_services.SetStatus(kNotFoundStatus);
    } else {
        const VersionReply kvm = VersionReply::Parse(reply, count);
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
                                              kvm.DateField(2), kvm.DateField(3), kvm.Model().c_str());
            m_state.logLineCount += 4;
        } else {
            m_state.logText = m_state.Format("KVM Infomation\nModel : %s \nVersion : %02d-%02d-%02d",
                                             kvm.Model().c_str(), kvm.DateField(1), kvm.DateField(2),
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
            m_state.portName == kAutoSelection ? m_state.scanPortName : m_state.portName.c_str();
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
    m_services.SetStatus("Assign COM number and try again.");
    m_services.UpdateData();
}

void KvmOperations::ReportNoResponse()
{
    m_services.TrimLog();
    m_state.logText += "No KVM response.\nMake sure KVM is connected to COM port\nAnd try Auto scan mode.";
    m_services.UpdateData();
}

// ---------------------------------------------------------------------------
// Upgrade: the button's part, on the caller's thread

void KvmOperations::Upgrade()
{
    if (!BeginUpgrade())
        return;
    ProbeForUpgrade();
    if (!StartWorker([this] { return UpgradeThreadProc(); }))
        m_workerExitCode = FailRun(kTimeoutStatus, 1);
}

void KvmOperations::StartUpgrade()
{
    if (!BeginUpgrade())
        return;
    const bool started = StartWorker([this] {
        ProbeForUpgrade();
        return UpgradeThreadProc();
    });
    if (!started)
        m_workerExitCode = FailRun(kTimeoutStatus, 1);
}

// The button's part up to the probe: refuses without a valid file, asks for
// confirmation, disables the controls and takes the port selection. False
// when no run follows.
bool KvmOperations::BeginUpgrade()
{
    // At most one run: a second press while the worker runs must not reset
    // the counters and the port under its feet.
    if (WorkerRunning())
        return false;
    JoinWorker();

    m_state.silentPortCount = 0;
    m_state.blockSequence = 0;
    m_state.retryCount = 0;
    m_state.scanPortName[4] = '\0';

    if (m_state.firmwareValid != 1) {
        m_state.logText = kRefusalUsage;
        m_services.SetStatus("Please select firmware file.");
        m_services.UpdateData();
        m_lastOutcome = UpgradeOutcome::Refused;
        return false;
    }
    if (!m_services.Confirm(kConfirmText, "Confirm")) {
        m_lastOutcome = UpgradeOutcome::Cancelled;
        return false;
    }

    m_upgradeStarted = true;
    m_services.DisableButtons();
    m_state.portName = m_services.PortSelection();
    m_state.imageLength = 0;
    m_state.bytesSent = 0;
    m_lastOutcome = UpgradeOutcome::None;
    return true;
}

// The worker goes ahead whatever the probe found; on a closed port it ends
// in the go-ahead time-out.
void KvmOperations::ProbeForUpgrade()
{
    m_state.probeResult = ProbeKvm(m_state.portName == kAutoSelection ? 1 : 2);
    if (m_state.probeResult != kProbeFoundByScan && m_state.probeResult != kProbeFoundOnNamedPort)
        m_services.UpdateData();
}

bool KvmOperations::StartWorker(std::function<int()> body)
{
    m_workerRunning = true;
    try {
        m_worker = std::thread([this, body = std::move(body)] { m_workerExitCode = body(); });
        return true;
    } catch (const std::system_error&) {
        return false; // the caller ends the operation, so the controls come back
    }
}

int KvmOperations::WaitForWorker()
{
    JoinWorker();
    return m_workerExitCode;
}

void KvmOperations::JoinWorker()
{
    std::lock_guard<std::mutex> lock(m_joinMutex);
    if (m_worker.joinable())
        m_worker.join();
}

// ---------------------------------------------------------------------------
// Upgrade: the worker

int KvmOperations::UpgradeThreadProc()
{
    std::uint8_t modelHeader[3] = {0x02, 0x01, 0x00};
    Port()->Purge();
    ++m_state.logLineCount;
    m_services.TrimLog();
    AppendLog("Connecting to KVM................");
    m_services.UpdateData();

    if (const char* error = LoadImage()) {
        m_services.SetStatus(error);
        m_services.UpdateData();
        return EndRun(0, UpgradeOutcome::Failed);
    }
    m_state.retryCount = 0;
    m_services.SetStatus(kSearchingStatus);
    m_services.UpdateData();

    if (m_state.probeResult == kProbeFoundOnNamedPort && !Research())
        return FailRun(kNotFoundStatus, 0);

    Handshake(modelHeader);
    if (!WaitForGoAhead())
        return FailRun(kTimeoutStatus, 1);
    if (!TransferBlocks())
        return FailRun(kTimeoutStatus, 1);

    // The switch takes the image only with the end-of-image frame: the run is
    // complete once that frame has gone out, not before.
    m_state.txFrame[0] = kEndOfImageCommand;
    if (SendFrame(Port(), m_state.txFrame, 1) != 1)
        return FailRun(kTimeoutStatus, 1);

    m_state.progressPercent = 100;
    m_services.SetProgress(100);
    while (m_state.progressDots < kProgressDotsMax) {
        AppendLog(".");
        ++m_state.progressDots;
    }
    AppendLog(kVerdictOk);
    m_services.SetStatus("Upgrade complete!");
    m_services.UpdateData();
    return EndRun(1, UpgradeOutcome::Complete);
}

// Reads the file again, whole, into the image buffer. Returns the status text
// of a failure, nullptr when the image is loaded and fit to be sent.
const char* KvmOperations::LoadImage()
{
    const FirmwareFileResult read =
        ReadFirmwareFile(m_state.firmwarePath, m_state.imageBuffer, kImageCapacity);
    m_state.imageLength = static_cast<std::uint32_t>(read.size);
    m_state.bytesRemaining = m_state.imageLength;
    m_services.UpdateData();

    // A read that failed part-way is no end of file: the image would be cut.
    if (read.error == FirmwareFileResult::Error::TooLarge)
        return OperationTexts::kFileTooLarge;
    if (!read.Ok())
        return OperationTexts::kFileCannotBeOpened;
    switch (FindBlankImage(m_state.imageBuffer, m_state.imageLength)) {
    case BlankImage::Empty:
        return OperationTexts::kFileEmpty;
    case BlankImage::AllZero:
        return OperationTexts::kFileAllZero;
    case BlankImage::No:
        break;
    }
    // Only the image that was checked is sent: a file that changed since, was
    // damaged, or was a pipe that cannot be read twice could leave the switch
    // unable to start.
    if (Crc16(m_state.imageBuffer, m_state.imageLength) != 0
        || m_state.imageLength != m_state.checkedImageLength
        || ImageBodyCrc(m_state.imageBuffer, m_state.imageLength) != m_state.checkedImageCrc)
        return OperationTexts::kFileChanged;
    return nullptr;
}

// After a probe of a named port, make sure the switch still answers.
bool KvmOperations::Research()
{
    do {
        ++m_state.retryCount;
        if (Exchange(m_state.probeCommand, 1, m_state.replyBuffer, kProbeReplyWaitMs) > 0
            && IsProbeAck(m_state.replyBuffer[0], m_state.ackSet))
            return true;
    } while (m_state.retryCount < kResearchAttempts);
    return false;
}

void KvmOperations::Handshake(std::uint8_t (&modelHeader)[3])
{
    m_state.retryCount = 0;
    if (m_state.infoBlock[0] != 0)
        modelHeader[1] = m_state.infoBlock[0];
    SendFrame(Port(), modelHeader, 3);
    SendFrame(Port(), m_state.familyHeader, 3);

    // The switch is given the chance to say it is ready; the run goes on
    // without that answer.
    m_state.retryCount = 1;
    for (int probe = 1; probe <= kReadyProbes; ++probe) {
        SendFrame(Port(), m_state.probeCommand, 1);
        ReceiveReply(Port(), m_state.replyBuffer, kHandshakeReplyWaitMs);
        if (m_state.replyBuffer[0] == kGoAhead)
            break;
    }
    SendFrame(Port(), modelHeader, 3);
}

// The go-ahead counts only if it comes after the second model header; no
// frame goes out while waiting, so a late go-ahead waits in the input queue.
bool KvmOperations::WaitForGoAhead()
{
    m_state.retryCount = 1;
    for (;;) {
        ReceiveReply(Port(), m_state.replyBuffer, kHandshakeReplyWaitMs);
        if (m_state.replyBuffer[0] == kGoAhead)
            return true;
        std::this_thread::sleep_for(kGoAheadPause);
        if (m_state.retryCount >= kGoAheadWaits)
            return false;
        ++m_state.retryCount;
    }
}

bool KvmOperations::TransferBlocks()
{
    m_state.bytesSent = 0;
    AppendLog("[   OK   ]\nUpgrading in progress");
    m_services.SetStatus("Do not remove cable or power..");
    m_state.progressDots = 0;
    // retryCount is not cleared here: the first block's budget is what the
    // go-ahead wait left of it.

    using Clock = std::chrono::steady_clock;
    Clock::time_point lastReply = Clock::now();
    while (m_state.bytesRemaining != 0) {
        m_state.progressPercent = static_cast<std::int32_t>(
            static_cast<std::uint64_t>(m_state.bytesSent) * 100 / m_state.imageLength);
        if (m_state.progressPercent % kProgressDotStep == 0 && m_state.progressDots < kProgressDotsMax) {
            AppendLog(".");
            ++m_state.progressDots;
        }
        m_services.SetProgress(m_state.progressPercent);
        m_services.UpdateData();

        m_state.blockLength = std::min(m_state.bytesRemaining, kBlockDataSize);
        m_state.txFrame[0] = kDataBlockCommand;
        m_state.txFrame[1] = m_state.blockSequence;
        std::memcpy(m_state.txFrame + 2, m_state.imageBuffer + m_state.bytesSent, m_state.blockLength);
        const Clock::time_point waitStart = Clock::now();
        m_state.replyLength = Exchange(m_state.txFrame, static_cast<int>(m_state.blockLength) + 2,
                                       m_state.replyBuffer, kBlockReplyWaitMs);

        if (m_state.replyLength == 0) {
            // A silent block is sent again uncounted, but not for ever.
            if (Clock::now() - lastReply >= kBlockSilenceLimit)
                return false;
            std::this_thread::sleep_until(waitStart + kSilentAttemptFloor);
            continue;
        }
        lastReply = Clock::now();
        if (m_state.replyBuffer[0] != kGoAhead) {
            if (++m_state.retryCount > kRejectionLimit)
                return false;
            continue;
        }
        m_state.bytesSent += m_state.blockLength;
        m_state.bytesRemaining -= m_state.blockLength;
        m_state.retryCount = 0;
        ++m_state.blockSequence;
    }
    return true;
}

int KvmOperations::FailRun(const char* status, int exitCode)
{
    m_services.SetStatus(status);
    AppendLog(kVerdictFailed);
    m_services.UpdateData();
    return EndRun(exitCode, UpgradeOutcome::Failed);
}

// Every way out of the worker: close the port, then give the controls back.
// The worker is reported finished just before that, so a front end that sees
// the controls enabled also sees no run in progress.
int KvmOperations::EndRun(int exitCode, UpgradeOutcome outcome)
{
    Port()->Close();
    m_lastOutcome = outcome;
    EndOperation();
    return exitCode;
}

// The last act of every operation: the worker is reported finished just
// before the controls come back, so a front end that sees them enabled also
// sees nothing running.
int KvmOperations::EndOperation()
{
    m_workerRunning = false;
    m_services.EnableButtons();
    return 0;
}
