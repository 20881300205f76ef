#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "serial/SerialBackend.h"
#include "serial/Win32TimerResolution.h"
#include "serial/Win32WriteWatchdog.h"

// A serial line on a Windows communications port: one synchronous handle,
// opened exclusively; the driver keeps the read time-outs (COMMTIMEOUTS).
// Writes have no time-out of their own, so a watchdog cancels one that has
// stalled.
class Win32SerialBackend : public SerialBackend {
public:
    Win32SerialBackend() = default;
    ~Win32SerialBackend() override;
    Win32SerialBackend(const Win32SerialBackend&) = delete;
    Win32SerialBackend& operator=(const Win32SerialBackend&) = delete;

    bool Open(const std::string& device, int baudRate, SerialError& error) override;
    bool IsOpen() const override;
    void Close() override;
    bool SetTimeouts(std::chrono::milliseconds interval) override;
    bool Purge() override;
    std::size_t Write(const std::uint8_t* data, std::size_t length) override;
    std::size_t Read(std::uint8_t* data, std::size_t length) override;
    void ReleaseForExit() override;
    SerialError LastIoError() const override;

private:
    void FailIo(SerialError::Kind kind, unsigned long err);
    void FailIoOrHangUp(SerialError::Kind kind, unsigned long err);

    void* m_handle = nullptr; // the open port's HANDLE; nullptr when closed
    // Set once the adapter has gone (unplugged, driver removed): every later
    // Read and Write returns at once instead of asking a dead handle.
    bool m_dead = false;
    // The driver's time-outs at 1 ms rather than 15.6, while the port is open.
    std::optional<Win32TimerResolution> m_finerTimer;
    SerialError::Kind m_ioError = SerialError::Kind::None;
    unsigned long m_ioErrno = 0; // GetLastError() of the failure
    Win32WriteWatchdog m_watchdog;
};
