#include "kvm/KvmOperations.h"

#include <system_error>

#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"

namespace {

constexpr auto kTrimPause = std::chrono::milliseconds(800);

} // namespace

void ApplyTrimLog(SharedState& state, DialogServices& services)
{
    if (state.logLineCount < kTrimLineLimit)
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

int KvmOperations::SelectedProbeMode() const
{
    return m_state.portName == kAutoPortSelection ? kProbeModeScan : kProbeModeNamed;
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

// The last act of every operation: the worker is reported finished just
// before the controls come back, so a front end that sees them enabled also
// sees nothing running.
int KvmOperations::EndOperation()
{
    m_workerRunning = false;
    m_services.EnableButtons();
    return 0;
}

void KvmOperations::ResetReport()
{
    m_report = OperationReport();
    m_acknowledgedSoFar = 0;
    std::lock_guard lock(m_switchPortMutex);
    m_switchPortSoFar.clear();
}

void KvmOperations::NoteSwitchPort(const std::string& portName)
{
    m_report.portName = portName;
    std::lock_guard lock(m_switchPortMutex);
    m_switchPortSoFar = portName;
}

std::string KvmOperations::SwitchPortSoFar() const
{
    std::lock_guard lock(m_switchPortMutex);
    return m_switchPortSoFar;
}
