#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "kvm/VersionComparison.h"
#include "outcome/Outcome.h"

// What one run of info, check or upgrade found and how it ended: the one
// record behind the exit status, the closing summary and --json. Filled by
// the functions of RunRecording.h as the run learns its facts, so that a
// run cut short by a signal still says what it knew.
struct RunRecord {
    std::string command; // "info", "check", "upgrade"
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    bool portOpened = false; // a probe reached a port: portName and portDevice hold it
    std::string portName;
    std::string portDevice;

    bool fileGiven = false;
    std::string filePath;
    std::uint64_t fileSize = 0;
    std::optional<std::uint16_t> fileCrc16; // the file's trailer, when it has one
    std::string fileModel;
    std::string fileVersion;
    std::string fileDate; // the date fields as compared, "D-M-Y"; empty when not known
    bool fileValid = false;

    bool switchRead = false;
    std::string switchModel;
    std::string switchDate; // "DD-MM-YY", as the log shows it

    VersionComparison comparison = VersionComparison::Unknown;

    Outcome outcome = Outcome::Failed;
    int signo = 0;     // the signal that ended an interrupted run
    std::string cause; // one line; empty on success

    std::uint32_t blocksSent = 0; // acknowledged by the switch
    std::uint32_t bytesSent = 0;
    std::uint32_t resends = 0;
    std::uint32_t rejections = 0;

    // upgrade --verify: whether the switch came back with the file's date
    // (with probe-only, whether it answered); none when not asked.
    std::optional<bool> verified;
    bool awaitingRestart = false; // the upgrade was sent; the wait for the switch runs
    bool switchAfterRead = false; // the restarted switch's version was read
    std::string switchAfterModel;
    std::string switchAfterDate;  // "DD-MM-YY"

    // --log: the transcript's file and why it is not whole (empty: it is).
    // What became of the transcript never changes the run's outcome.
    std::string logPath;
    std::string logFailure;

    int ExitStatus() const { return ExitStatusOf(outcome, signo); }
    // How long the run has taken until now.
    double Seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
};
