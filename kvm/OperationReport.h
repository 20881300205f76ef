#pragma once

#include <cstdint>
#include <string>

#include "kvm/VersionComparison.h"

// Where the last upgrade run stopped, for a front end that explains a
// failure: before anything reached the switch, or after image data did.
enum class UpgradeStop {
    None,          // still running, or complete
    FileRefused,   // the file read again was not the one checked: nothing sent
    SwitchLost,    // a named port's switch stopped answering the probe
    NoGoAhead,     // the switch never gave the go-ahead: no image data sent
    BlockRejected, // a block was refused more often than the budget allows
    SwitchSilent,  // the switch stopped answering data blocks
    EndOfImage,    // every block acknowledged, the end-of-image frame not sent whole
};

// What the last check or upgrade found out, beyond what the log says. The
// worker writes it; read it on the front end's thread once the worker has
// been waited for (KvmOperations::WaitForWorker).
struct OperationReport {
    int probeResult = -1;       // a kProbe* code; -1 when no probe ran
    std::string portName;       // the COM name the switch answered on, or the one tried
    bool versionRead = false;
    std::string switchModel;    // as the front end shows outside text (DialogServices::OutsideText)
    int switchDate[3] = {};     // in the order of the firmware's date fields
    VersionComparison comparison = VersionComparison::Unknown;

    UpgradeStop stop = UpgradeStop::None;
    bool imageDataSent = false;        // at least one data block went out
    std::uint32_t blocksAcknowledged = 0;
    std::uint32_t bytesAcknowledged = 0;
    std::uint32_t imageLength = 0;
    std::uint32_t resends = 0;         // blocks sent again after a silent wait
    std::uint32_t rejections = 0;      // replies that refused a block

    // The wait for the switch to come back after the upgrade (AwaitRestart).
    // Once it has run, versionRead and the fields above it say what the
    // restarted switch said.
    bool restartAwaited = false;
    bool restartAnswered = false;      // a probe was answered within the wait
    bool restartOpenFailed = false;    // the wait's last try could not open the port
};
