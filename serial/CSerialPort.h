#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/SerialError.h"

class PortTable;
class SerialBackend;

// The one serial line to the switch. Every operation returns 1 on success and
// 0 on failure; the reason for a failed Open is kept in LastOpenError(), the
// reason for the last failed read or write on the open line in LastIoError().
class CSerialPort {
public:
    // table: where "COM1".."COM12" are looked up; nullptr = PortTable::Process().
    explicit CSerialPort(const PortTable* table = nullptr);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    int Open(const char* portName, int baudRate, int timeoutMs);
    int SetTimeouts(int ms);
    int Purge();
    int Close();
    int Write(const std::uint8_t* data, int length);
    int Read(std::uint8_t* data, int length);

    bool IsOpen() const;

    // For an abort from another thread just before the process ends: the
    // line settings found at Open are put back and the exclusive flag is
    // lifted; the descriptor goes with the process.
    void ReleaseForExit();
    const SerialError& LastOpenError() const { return m_lastOpenError; }
    // The port opened last (open or closed again since) and the device it
    // resolved to; empty before the first successful Open.
    const std::string& LastOpenedPortName() const { return m_openPortName; }
    const std::string& LastOpenedDevice() const { return m_openDevice; }

    // Why the last read, write or purge since the last successful Open
    // failed (a hang-up, a write stall, a read error), naming that port;
    // Kind::None when none did. Still there after Close, so a run that has
    // ended can be explained. A read that got no byte in time is no failure.
    // Ask on the thread that used the port, or after it has been joined.
    SerialError LastIoError() const;

    // Called with the reason every time Open fails, on the thread that called
    // Open. LastOpenError() keeps only the last failure; a scan over twelve
    // ports needs every one to explain itself (the command line's --verbose).
    // An empty function removes the observer.
    using OpenFailureObserver = std::function<void(const SerialError&)>;
    void SetOpenFailureObserver(OpenFailureObserver observer);

    // Called with every byte written (sent true) or read, on the thread that
    // wrote or read them: a transcript of the line. Set it while no operation
    // runs; an empty function removes it.
    using TrafficObserver = std::function<void(bool sent, const std::uint8_t* data, std::size_t length)>;
    void SetTrafficObserver(TrafficObserver observer);

private:
    int FailOpen(const SerialError& error);

    const PortTable* m_table;
    std::unique_ptr<SerialBackend> m_backend;
    SerialError m_lastOpenError;
    std::string m_openPortName; // the last port opened, and its device
    std::string m_openDevice;
    OpenFailureObserver m_openFailureObserver;
    TrafficObserver m_trafficObserver;
};
