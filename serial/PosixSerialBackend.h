#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <termios.h>

#include "serial/PosixLowLatency.h"
#include "serial/SerialBackend.h"
#include "serial/UucpLockFile.h"

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
    SerialError LastIoError() const override;

    // ReleaseForExit, on the way to the process's end, waits much less for
    // the output queue than Close (kCloseDrainLimit).
    static constexpr std::chrono::milliseconds kExitDrainLimit{50};

private:
    bool ClaimFromOthers(const std::string& device, SerialError& error);
    void CloseLocked(int fd);
    void RestoreLocked(int fd);
    void MarkDeadIf(int err);
    void MarkDead();
    void FailIo(SerialError::Kind kind, int err);

    // Open, Close and ReleaseForExit hold it; Read and Write never do, so a
    // release from another thread never waits for a read to end.
    std::mutex m_lifeMutex;
    // Read without the lock by Read, Write and IsOpen on the owner's thread;
    // changed only under the lock.
    std::atomic<int> m_fd{-1};
    // The terminal's settings before Open changed them; under m_lifeMutex.
    std::optional<termios> m_saved;
    // Ours while the port is open, let go with it; under m_lifeMutex.
    UucpLockFile m_lockFile;
    PosixLowLatency m_lowLatency;
    std::chrono::milliseconds m_interval{0};
    // Set once the device has hung up (unplugged, pseudo-terminal closed):
    // every later Read and Write returns at once instead of polling a corpse.
    bool m_dead = false;
    // Why the last read, write or purge failed; owner's thread only.
    SerialError::Kind m_ioError = SerialError::Kind::None;
    int m_ioErrno = 0;
};
