#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/SerialBackend.h"

// A serial line on a POSIX terminal device (termios + poll). The descriptor
// is non-blocking; every wait is a poll() against a deadline, so nothing here
// can hang on a line that has gone away.
class PosixSerialBackend : public SerialBackend {
public:
    PosixSerialBackend() = default;
    ~PosixSerialBackend() override;
    PosixSerialBackend(const PosixSerialBackend&) = delete;
    PosixSerialBackend& operator=(const PosixSerialBackend&) = delete;

    bool Open(const std::string& device, int baudRate, SerialError& error) override;
    bool IsOpen() const override;
    void Close() override;
    bool SetTimeouts(std::chrono::milliseconds interval) override;
    bool Purge() override;
    std::size_t Write(const std::uint8_t* data, std::size_t length) override;
    std::size_t Read(std::uint8_t* data, std::size_t length) override;
    void ReleaseForExit() override;

    // How long a write may wait for room in the output queue before it gives
    // up: writes have no time-out of their own, but a stalled line must not
    // hold the caller for ever.
    static constexpr std::chrono::milliseconds kWriteStallLimit{2000};

private:
    bool Configure(int baudRate, SerialError& error);
    void MarkDeadIf(int err);

    int m_fd = -1;
    std::chrono::milliseconds m_interval{0};
    // Set once the device has hung up (unplugged, pseudo-terminal closed):
    // every later Read and Write returns at once instead of polling a corpse.
    bool m_dead = false;
};
