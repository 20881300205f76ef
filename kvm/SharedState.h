#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareInfo.h"
#include "serial/WireProtocol.h"

class CSerialPort;

inline constexpr int kTextBufferSize = 2048;
inline constexpr int kTxFrameSize = 65536;

// Everything that passes from one operation to the next. One instance for the
// process (the front ends own it); tests make their own. No field is locked:
// the disabled controls keep operations from overlapping.
struct SharedState {
    // Firmware information, left by the loader.
    std::string firmwarePath;
    std::string modelText;
    std::string versionText;
    std::uint8_t infoBlock[kInfoBlockSize] = {};
    std::int32_t dateField1 = 0;
    std::int32_t dateField2 = 0;
    std::int32_t dateField3 = 0;
    std::int32_t firmwareDateKnown = 0;
    std::int32_t firmwareValid = 0;
    std::uint8_t familyHeader[3] = {WireProtocol::kHeaderCommand, kFamilyCorva, 0x00};
    // The bytes the loader checked, so that the upgrade sends those and no
    // others: a CRC-16 is no proof that a file read again is the same file
    // (another image with the same length and trailer takes seconds to make).
    // Empty, and length 0, when no file passed the checks.
    std::uint32_t checkedImageLength = 0;
    std::vector<std::uint8_t> checkedImage;

    // Log texts.
    std::string logText;
    std::int32_t logLineCount = 0;
    char textBuffer[kTextBufferSize] = {};

    // Serial link and probe.
    CSerialPort* port = nullptr;
    std::string portName; // the port an operation uses; before the first, where the selector starts
    char scanPortName[8] = {'C', 'O', 'M', 0, 0, 0, 0, 0};
    char portDigits[4] = {};
    std::uint8_t probeCommand[1] = {WireProtocol::kProbeCommand};
    std::uint8_t ackSet[4] = {WireProtocol::kProbeAckSet[0], WireProtocol::kProbeAckSet[1],
                              WireProtocol::kProbeAckSet[2], WireProtocol::kProbeAckSet[3]};
    std::int32_t probeResult = 0;
    std::int32_t silentPortCount = 0;
    std::uint8_t replyBuffer[WireProtocol::kReplyBufferSize] = {};
    std::int32_t replyLength = 0;

    // Block transfer.
    std::uint8_t imageBuffer[kImageCapacity] = {};
    std::uint32_t imageLength = 0;
    std::uint32_t bytesRemaining = 0;
    std::uint32_t bytesSent = 0;
    std::uint32_t blockLength = 0;
    std::uint8_t blockSequence = 0;
    std::uint8_t retryCount = 0;
    std::int32_t progressPercent = 0;
    std::int32_t progressDots = 0;
    std::uint8_t txFrame[kTxFrameSize] = {};

    // Formats into textBuffer, cut at its size (never past it), and returns it.
    const char* Format(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        std::vsnprintf(textBuffer, sizeof textBuffer, format, args);
        va_end(args);
        return textBuffer;
    }
};
