#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "kvm/DialogServices.h"
#include "kvm/SharedState.h"
#include "kvm/UpgradeOutcome.h"

class CSerialPort;

// Probe result codes.
inline constexpr int kProbeFoundByScan = 3;
inline constexpr int kProbeFoundOnNamedPort = 4;
inline constexpr int kProbeScanFoundNothing = 10;
inline constexpr int kProbeNamedPortSilent = 0;
inline constexpr int kProbeNamedPortFailed = 20;

// A switch that stops answering data blocks altogether would otherwise keep
// the transfer resending for ever with the controls disabled: after this long
// without a single reply byte the run fails like a block rejected too often.
inline constexpr std::chrono::milliseconds kBlockSilenceLimit{3000};

// The log trim rule: once logLineCount reaches 7, pause 800 ms, empty the log,
// show it and reset the count. The front ends' TrimLog() calls this.
void ApplyTrimLog(SharedState& state, DialogServices& services);

// The three operations on the switch: the probe, the version check and the
// upgrade with its worker thread. They report only through DialogServices.
class KvmOperations {
public:
    KvmOperations(SharedState& state, DialogServices& services);
    virtual ~KvmOperations(); // waits for a running worker
    KvmOperations(const KvmOperations&) = delete;
    KvmOperations& operator=(const KvmOperations&) = delete;

    // Finds the switch: mode 1 scans COM1..COM12, any other mode tries
    // state.portName. Returns one of the kProbe* codes; the port stays open
    // for 3 and 4 only.
    virtual int ProbeKvm(int mode);

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

protected:
    // The worker's body; runs on its own thread. Returns the exit code.
    int UpgradeThreadProc();

    SharedState& m_state;
    DialogServices& m_services;

private:
    CSerialPort* Port() const { return m_state.port; }
    void AppendLog(const char* text);
    int Exchange(const std::uint8_t* payload, int length, std::uint8_t* reply, int firstByteTimeoutMs,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    bool RunProbeAttempts(int& attempts, bool named);

    void BeginCheck();
    void RunCheck();
    void QueryVersion();
    void ReportNoSwitch();
    void ReportNoResponse();

    bool BeginUpgrade();
    void ProbeForUpgrade();
    bool StartWorker(std::function<int()> body);
    int EndOperation();
    void JoinWorker();
    const char* LoadImage();
    bool Research();
    void Handshake(std::uint8_t (&modelHeader)[3]);
    bool WaitForGoAhead();
    bool TransferBlocks();
    int FailRun(const char* status, int exitCode);
    int EndRun(int exitCode, UpgradeOutcome outcome);

    std::thread m_worker;
    std::mutex m_joinMutex; // WaitForWorker, Upgrade and the destructor may race to join
    std::atomic<bool> m_workerRunning{false};
    std::atomic<bool> m_upgradeStarted{false};
    int m_workerExitCode = 0;
    std::atomic<UpgradeOutcome> m_lastOutcome{UpgradeOutcome::None};
    std::atomic<bool> m_lastCheckSucceeded{false};
};
