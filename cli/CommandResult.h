#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kvm/VersionComparison.h"

// What one run of info, check or upgrade found and how it ended: the one
// record behind the exit status, the closing summary and --json.
struct CommandResult {
    std::string command; // "info", "check", "upgrade"

    bool portOpened = false; // a probe reached a port: portName and portDevice hold it
    std::string portName;
    std::string portDevice;

    bool fileGiven = false;
    std::string filePath;
    std::uint64_t fileSize = 0;
    std::optional<std::uint16_t> fileCrc16; // the file's trailer, when it has one
    std::string fileModel;
    std::string fileVersion;
    bool fileValid = false;

    bool switchRead = false;
    std::string switchModel;
    std::string switchDate; // "DD-MM-YY", as the log shows it

    VersionComparison comparison = VersionComparison::Unknown;

    std::string outcome = "failed"; // see OutcomeName in Verdict.h
    int exitCode = 1;
    std::string cause; // one line; empty on success

    std::uint32_t blocksSent = 0; // acknowledged by the switch
    std::uint32_t bytesSent = 0;
    std::uint32_t resends = 0;
    std::uint32_t rejections = 0;
    double seconds = 0;
};
