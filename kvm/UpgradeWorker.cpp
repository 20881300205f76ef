#include <algorithm>
#include <cstring>

#include "firmware/Crc16.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareInfo.h"
#include "kvm/KvmOperations.h"
#include "kvm/SystemTexts.h"
#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"
#include "serial/WireProtocol.h"

namespace {

using WireProtocol::kBlockSilenceLimit;
using WireProtocol::kGoAhead;
using WireProtocol::kGoAheadPause;
using WireProtocol::kGoAheadWaits;
using WireProtocol::kReadyProbes;
using WireProtocol::kRejectionLimit;
using WireProtocol::kResearchAttempts;
using WireProtocol::kSilentAttemptFloor;

constexpr int kProgressDotStep = 15;
constexpr int kProgressDotsMax = 12;

} // namespace

// ---------------------------------------------------------------------------
// The button's part, on the caller's thread

void KvmOperations::Upgrade()
{
    if (!BeginUpgrade())
        return;
    ProbeForUpgrade();
    if (!StartWorker([this] { return UpgradeThreadProc(); }))
        m_workerExitCode = FailRun(SystemTexts::kTimeout, 1);
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
        m_workerExitCode = FailRun(SystemTexts::kTimeout, 1);
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

    ResetReport();
    m_state.silentPortCount = 0;
    m_state.blockSequence = 0;
    m_state.retryCount = 0;
    m_state.scanPortName[4] = '\0';

    if (m_state.firmwareValid != 1) {
        m_state.logText = SystemTexts::kRefusalUsage;
        m_services.SetStatus(SystemTexts::kSelectFile);
        m_services.UpdateData();
        m_lastOutcome = UpgradeOutcome::Refused;
        return false;
    }
    if (!m_services.Confirm(SystemTexts::kConfirmUpgrade, SystemTexts::kConfirmCaption)) {
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
    m_state.probeResult = ProbeKvm(SelectedProbeMode());
    m_report.probeResult = m_state.probeResult;
    if (m_state.probeResult != kProbeFoundByScan && m_state.probeResult != kProbeFoundOnNamedPort)
        m_services.UpdateData();
}

// ---------------------------------------------------------------------------
// The worker

int KvmOperations::UpgradeThreadProc()
{
    std::uint8_t modelHeader[3] = {WireProtocol::kHeaderCommand, kFamilyCorva, 0x00};
    Port()->Purge();
    ++m_state.logLineCount;
    m_services.TrimLog();
    AppendLog("Connecting to KVM................");
    m_services.UpdateData();

    if (const char* error = LoadImage()) {
        m_report.stop = UpgradeStop::FileRefused;
        m_services.SetStatus(error);
        m_services.UpdateData();
        return EndRun(0, UpgradeOutcome::Failed);
    }
    m_state.retryCount = 0;
    m_services.SetStatus(SystemTexts::kSearching);
    m_services.UpdateData();

    m_report.imageLength = m_state.imageLength;
    if (m_state.probeResult == kProbeFoundOnNamedPort && !Research()) {
        m_report.stop = UpgradeStop::SwitchLost;
        return FailRun(SystemTexts::kNotFound, 0);
    }

    Handshake(modelHeader);
    if (!WaitForGoAhead()) {
        m_report.stop = UpgradeStop::NoGoAhead;
        return FailRun(SystemTexts::kTimeout, 1);
    }
    if (const UpgradeStop stop = TransferBlocks(); stop != UpgradeStop::None) {
        m_report.stop = stop;
        return FailRun(SystemTexts::kTimeout, 1);
    }

    // The switch takes the image only with the end-of-image frame: the run is
    // complete once that frame has gone out, not before.
    m_state.txFrame[0] = WireProtocol::kEndOfImageCommand;
    if (SendFrame(Port(), m_state.txFrame, 1) != 1) {
        m_report.stop = UpgradeStop::EndOfImage;
        return FailRun(SystemTexts::kTimeout, 1);
    }

    m_state.progressPercent = 100;
    m_services.SetProgress(100);
    while (m_state.progressDots < kProgressDotsMax) {
        AppendLog(".");
        ++m_state.progressDots;
    }
    AppendLog(SystemTexts::kVerdictOk);
    m_services.SetStatus(SystemTexts::kUpgradeComplete);
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
        return SystemTexts::kFileTooLarge;
    if (!read.Ok())
        return SystemTexts::kFileCannotBeOpened;
    switch (FindBlankImage(m_state.imageBuffer, m_state.imageLength)) {
    case BlankImage::Empty:
        return SystemTexts::kFileEmpty;
    case BlankImage::AllZero:
        return SystemTexts::kFileAllZero;
    case BlankImage::No:
        break;
    }
    // Only the image that was checked is sent: a file that changed since, was
    // damaged, or was a pipe that cannot be read twice could leave the switch
    // unable to start.
    if (Crc16(m_state.imageBuffer, m_state.imageLength) != 0
        || m_state.imageLength != m_state.checkedImage.size()
        || std::memcmp(m_state.imageBuffer, m_state.checkedImage.data(), m_state.imageLength) != 0)
        return SystemTexts::kFileChanged;
    return nullptr;
}

// After a probe of a named port, make sure the switch still answers; the
// attempts count on in retryCount.
bool KvmOperations::Research()
{
    int attempts = m_state.retryCount;
    const bool accepted = RunProbeAttempts(attempts, kResearchAttempts, false);
    m_state.retryCount = static_cast<std::uint8_t>(attempts);
    return accepted;
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
        ReceiveReply(Port(), m_state.replyBuffer, WireProtocol::kHandshakeReplyWaitMs);
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
        ReceiveReply(Port(), m_state.replyBuffer, WireProtocol::kHandshakeReplyWaitMs);
        if (m_state.replyBuffer[0] == kGoAhead)
            return true;
        std::this_thread::sleep_for(kGoAheadPause);
        if (m_state.retryCount >= kGoAheadWaits)
            return false;
        ++m_state.retryCount;
    }
}

UpgradeStop KvmOperations::TransferBlocks()
{
    m_state.bytesSent = 0;
    AppendLog(SystemTexts::kVerdictOk);
    AppendLog("\nUpgrading in progress");
    m_services.SetStatus(SystemTexts::kUpgrading);
    m_state.progressDots = 0;
    // retryCount is not cleared here: the first block's budget is what the
    // go-ahead wait left of it.

    using Clock = std::chrono::steady_clock;
    Clock::time_point lastReply = Clock::now();
    // Attempts at the current block that went out and got no reply in time:
    // each may still be answered, late.
    int unanswered = 0;
    while (m_state.bytesRemaining != 0) {
        m_state.progressPercent = static_cast<std::int32_t>(
            static_cast<std::uint64_t>(m_state.bytesSent) * 100 / m_state.imageLength);
        if (m_state.progressPercent % kProgressDotStep == 0 && m_state.progressDots < kProgressDotsMax) {
            AppendLog(".");
            ++m_state.progressDots;
        }
        m_services.SetProgress(m_state.progressPercent);
        m_services.UpdateData();

        m_state.blockLength = std::min(m_state.bytesRemaining, WireProtocol::kBlockDataSize);
        m_state.txFrame[0] = WireProtocol::kDataBlockCommand;
        m_state.txFrame[1] = m_state.blockSequence;
        std::memcpy(m_state.txFrame + 2, m_state.imageBuffer + m_state.bytesSent, m_state.blockLength);
        const Clock::time_point waitStart = Clock::now();
        // Counted before the exchange: a block that may have reached the
        // switch in part is data sent all the same.
        m_report.imageDataSent = true;
        bool frameSent = false;
        m_state.replyLength = SendBlock(frameSent);

        if (m_state.replyLength == 0) {
            // A silent block is sent again uncounted, but not for ever; a
            // line that has hung up (an adapter pulled out) never answers again.
            if (Clock::now() - lastReply >= kBlockSilenceLimit
                || Port()->LastIoError().kind == SerialError::Kind::HungUp)
                return UpgradeStop::SwitchSilent;
            // A line that has gone away takes no frame: nothing was sent again.
            if (frameSent) {
                ++m_report.resends;
                ++unanswered;
            }
            std::this_thread::sleep_until(waitStart + kSilentAttemptFloor);
            continue;
        }
        if (unanswered > 0) {
            SettleLateReplies(unanswered);
            unanswered = 0;
        }
        lastReply = Clock::now();
        if (m_state.replyBuffer[0] != kGoAhead) {
            ++m_report.rejections;
            if (++m_state.retryCount > kRejectionLimit)
                return UpgradeStop::BlockRejected;
            continue;
        }
        ++m_report.blocksAcknowledged;
        m_report.bytesAcknowledged += m_state.blockLength;
        m_acknowledgedSoFar = (std::uint64_t{m_report.blocksAcknowledged} << 32) | m_report.bytesAcknowledged;
        m_state.bytesSent += m_state.blockLength;
        m_state.bytesRemaining -= m_state.blockLength;
        m_state.retryCount = 0;
        ++m_state.blockSequence;
    }
    return UpgradeStop::None;
}

// One attempt at the current block: the frame, then its reply. A reply that
// misses the usual wait is listened for a while longer before the block is
// sent again, so that it is credited to the attempt it answers and never to
// the next frame. Returns the reply's length; 0 when none came, or when the
// frame did not go out whole (frameSent false: a line that has gone, or one
// that never fell silent, whose babble is never listened to).
int KvmOperations::SendBlock(bool& frameSent)
{
    m_state.replyBuffer[0] = kNoReplyMarker;
    frameSent = SendFrame(Port(), m_state.txFrame, static_cast<int>(m_state.blockLength) + 2) == 1;
    if (!frameSent)
        return 0;
    const int length = ReceiveReply(Port(), m_state.replyBuffer, WireProtocol::kBlockReplyWaitMs);
    if (length > 0)
        return length;
    return ReceiveReply(Port(), m_state.replyBuffer, WireProtocol::kBlockLateReplyWaitMs);
}

// The block was sent more than once and a reply has come: it may answer an
// earlier attempt, whose late reply came after all, while the last attempt's
// own is still on its way. Replies come in the order of the attempts, so the
// last one heard within the late wait answers the last attempt, and only it
// counts; what answered the earlier ones must not be left to be taken for
// the next block's reply.
void KvmOperations::SettleLateReplies(int unanswered)
{
    std::uint8_t later[kReplyBufferSize];
    for (int i = 0; i < unanswered; ++i) {
        const int length = ReceiveReply(Port(), later, WireProtocol::kBlockLateReplyWaitMs);
        if (length == 0)
            return;
        std::memcpy(m_state.replyBuffer, later, static_cast<std::size_t>(length));
        m_state.replyLength = length;
    }
}

int KvmOperations::FailRun(const char* status, int exitCode)
{
    m_services.SetStatus(status);
    AppendLog(SystemTexts::kVerdictFailed);
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
