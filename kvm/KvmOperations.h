#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "kvm/DialogServices.h"
#include "kvm/OperationReport.h"
#include "kvm/SharedState.h"
#include "kvm/UpgradeOutcome.h"

class CSerialPort;

// The port selection that asks for a scan rather than one named port.
inline constexpr const char* kAutoPortSelection = "AUTO";

// ProbeKvm's modes: scan COM1..COM12, or try state.portName only.
inline constexpr int kProbeModeScan = 1;
inline constexpr int kProbeModeNamed = 2;

// Probe result codes.
inline constexpr int kProbeFoundByScan = 3;
inline constexpr int kProbeFoundOnNamedPort = 4;
inline constexpr int kProbeScanFoundNothing = 10;
inline constexpr int kProbeNamedPortSilent = 0;
inline constexpr int kProbeNamedPortFailed = 20;

// The log trim rule: once logLineCount reaches kTrimLineLimit, pause 800 ms,
// empty the log, show it and reset the count. The front ends' TrimLog() calls
// this.
inline constexpr int kTrimLineLimit = 7;
void ApplyTrimLog(SharedState& state, DialogServices& services);

// The three operations on the switch: the probe (Probe.cpp), the version
// check (VersionCheck.cpp) and the upgrade with its worker thread
// (UpgradeWorker.cpp). They report only through DialogServices; the worker
// calls only the services that DialogServices names worker-safe.
class KvmOperations {
public:
    KvmOperations(SharedState& state, DialogServices& services);
    ~KvmOperations(); // waits for a running worker
    KvmOperations(const KvmOperations&) = delete;
    KvmOperations& operator=(const KvmOperations&) = delete;

    // Finds the switch: kProbeModeScan scans COM1..COM12, any other mode
    // tries state.portName. Returns one of the kProbe* codes; the port stays
    // open for 3 and 4 only.
    int ProbeKvm(int mode);

    // The Check Version button. Runs to its end on the calling thread.
    void CheckVersion();

    // The Upgrade button: refuses without a valid file, asks for
    // confirmation, probes on the calling thread, then starts the worker and
    // returns without waiting for it.
    void Upgrade();

    // The same two for a front end whose thread must never wait on the line
    // (a window has to keep painting): after the same first steps on the
    // calling thread (the confirmation among them), everything else, the
    // probe, the pauses and the waits included, runs on the worker thread.
    void StartCheckVersion();
    void StartUpgrade();

    // After "Upgrade complete!" the switch restarts with the image it stored.
    // Probes portName about once a second until the switch answers or limit
    // has passed, then reads its version as Check Version does (its log
    // texts, the comparison with the file). Runs on the calling thread; true
    // when the version was read. The report keeps the upgrade's figures.
    bool AwaitRestart(const std::string& portName, std::chrono::milliseconds limit);

    // True from the moment the worker is started until its last act.
    bool WorkerRunning() const { return m_workerRunning.load(); }
    // Whether the worker that runs (or ran last) is an upgrade's, not a
    // version check's.
    bool UpgradeStarted() const { return m_upgradeStarted.load(); }
    // Blocks until the worker (if any) has ended; returns its exit code.
    int WaitForWorker();

    // How the last Upgrade() ended; None while its worker still runs.
    UpgradeOutcome LastUpgradeOutcome() const { return m_lastOutcome.load(); }
    // True when the last CheckVersion() read the switch's version.
    bool LastCheckSucceeded() const { return m_lastCheckSucceeded.load(); }
    // What the last check or upgrade found out: the port, the switch's
    // version and the comparison, how far an upgrade got. A copy; ask once
    // the worker has been waited for.
    OperationReport LastReport() const { return m_report; }
    // The blocks and bytes the switch has acknowledged in the running (or
    // last) upgrade, for a thread that may not wait for the worker: an
    // interrupt must not claim less than the switch stored.
    std::uint32_t BlocksAcknowledgedSoFar() const
    {
        return static_cast<std::uint32_t>(m_acknowledgedSoFar.load() >> 32);
    }
    std::uint32_t BytesAcknowledgedSoFar() const { return static_cast<std::uint32_t>(m_acknowledgedSoFar.load()); }
    // The port the switch answered a probe on in the running (or last)
    // operation, empty while none has; for a thread that may not wait for
    // the worker (an interrupt must still say where the switch was).
    std::string SwitchPortSoFar() const;

private:
    CSerialPort* Port() const { return m_state.port; }
    // kProbeModeScan for the selection "AUTO", kProbeModeNamed otherwise.
    int SelectedProbeMode() const;
    void AppendLog(const char* text);
    int Exchange(const std::uint8_t* payload, int length, std::uint8_t* reply, int firstByteTimeoutMs,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    bool RunProbeAttempts(int& attempts, int limit, bool keepReplyLength);
    void ReportSilentPort(const char* portName);

    void BeginCheck();
    void RunCheck();
    void QueryVersion();
    void ReportNoSwitch();
    void ReportNoResponse();
    void ResetReport();
    void NoteSwitchPort(const std::string& portName);

    bool BeginUpgrade();
    void ProbeForUpgrade();
    // The worker's body; runs on its own thread. Returns the exit code.
    int UpgradeThreadProc();
    bool StartWorker(std::function<int()> body);
    int EndOperation();
    void JoinWorker();
    const char* LoadImage();
    bool Research();
    void Handshake(std::uint8_t (&modelHeader)[3]);
    bool WaitForGoAhead();
    // None when every block was acknowledged, else why the transfer stopped.
    UpgradeStop TransferBlocks();
    int SendBlock(bool& frameSent);
    void SettleLateReplies(int unanswered);
    int FailRun(const char* status, int exitCode);
    int EndRun(int exitCode, UpgradeOutcome outcome);

    SharedState& m_state;
    DialogServices& m_services;
    std::thread m_worker;
    std::mutex m_joinMutex; // WaitForWorker, Upgrade and the destructor may race to join
    std::atomic<bool> m_workerRunning{false};
    std::atomic<bool> m_upgradeStarted{false};
    int m_workerExitCode = 0;
    std::atomic<UpgradeOutcome> m_lastOutcome{UpgradeOutcome::None};
    std::atomic<bool> m_lastCheckSucceeded{false};
    // Written by whichever thread runs the operation, never by two at once.
    OperationReport m_report;
    // The report's acknowledged blocks (high half) and bytes (low half) in
    // one word, so that a reader never sees one without the other.
    std::atomic<std::uint64_t> m_acknowledgedSoFar{0};
    mutable std::mutex m_switchPortMutex;
    std::string m_switchPortSoFar;
};
