#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/SerialError.h"

// The platform's serial line. One file per platform implements Create();
// CMake picks the file (PosixSerialBackend.cpp today, a Win32 one can be
// added beside it), so the callers never see termios or Win32 calls.
class SerialBackend {
public:
    virtual ~SerialBackend() = default;

    // Opens device exclusively (no second opener, in this or another process)
    // and applies the fixed line settings: baudRate, 8 data bits, no parity,
    // two stop bits, no flow control, DTR and RTS inactive, every byte value
    // passed unchanged. On failure fills error and leaves the backend closed.
    virtual bool Open(const std::string& device, int baudRate, SerialError& error) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    // Read time-outs: a Read of n bytes returns as soon as n bytes arrived,
    // or when more than interval passes between two received bytes, or when
    // n * interval + interval has passed in all. Fails on a closed backend.
    virtual bool SetTimeouts(std::chrono::milliseconds interval) = 0;

    // Discards both queues. Fails on a closed backend.
    virtual bool Purge() = 0;

    // Both return the number of bytes moved. A line that has gone away (device
    // unplugged, pseudo-terminal closed) returns 0 at once.
    virtual std::size_t Write(const std::uint8_t* data, std::size_t length) = 0;
    virtual std::size_t Read(std::uint8_t* data, std::size_t length) = 0;

    // How long a write may wait for the line to take its bytes before it
    // gives up: writes have no time-out of their own, but a stalled line
    // must not hold the caller for ever. A frame of 262 bytes leaves in
    // about 25 ms at 115200 baud.
    static constexpr std::chrono::milliseconds kWriteStallLimit{2000};

    // How long Close waits for the output queue to empty: the last frame
    // (the end of the image) must leave before the port goes, at our speed,
    // not dropped with the handle or sent at settings put back.
    static constexpr std::chrono::milliseconds kCloseDrainLimit{500};

    // Why the last read, write or purge on the open line failed: kind and
    // sysErrno only (Kind::None when none did since Open). Kept after Close,
    // so that a front end can explain a run that has ended.
    virtual SerialError LastIoError() const = 0;

    // The process is about to end without closing the port (an interrupt
    // that aborts a run). Safe to call from another thread while the owner
    // reads or writes: puts back the line settings found at Open and lifts
    // the exclusive flag, so that neither outlives the process. Does not close.
    virtual void ReleaseForExit() = 0;

    static std::unique_ptr<SerialBackend> Create();
};
