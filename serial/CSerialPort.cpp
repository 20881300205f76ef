#include "serial/CSerialPort.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "serial/PortTable.h"
#include "serial/SerialBackend.h"

CSerialPort::CSerialPort(const PortTable* table)
    : m_table(table)
    , m_backend(SerialBackend::Create())
{
}

CSerialPort::~CSerialPort() = default;

bool CSerialPort::IsOpen() const
{
    return m_backend->IsOpen();
}

int CSerialPort::Open(const char* portName, int baudRate, int timeoutMs)
{
    SerialError error;
    error.portName = portName ? portName : "";

    // A second Open must not disturb the port in use, its settings included.
    if (IsOpen()) {
        error.kind = SerialError::Kind::AlreadyOpen;
        return FailOpen(error);
    }

    const PortTable& table = m_table ? *m_table : PortTable::Process();
    const std::optional<std::string> device = table.Resolve(error.portName);
    if (!device) {
        error.kind = SerialError::Kind::UnknownName;
        return FailOpen(error);
    }
    error.device = *device;

    if (!m_backend->Open(*device, baudRate, error))
        return FailOpen(error);
    if (!SetTimeouts(timeoutMs)) {
        m_backend->Close();
        error.kind = SerialError::Kind::SettingsRefused;
        error.sysErrno = 0;
        return FailOpen(error);
    }
    m_lastOpenError = SerialError{};
    m_openPortName = error.portName;
    m_openDevice = error.device;
    return 1;
}

SerialError CSerialPort::LastIoError() const
{
    SerialError error = m_backend->LastIoError();
    if (error.kind != SerialError::Kind::None) {
        error.portName = m_openPortName;
        error.device = m_openDevice;
    }
    return error;
}

void CSerialPort::SetOpenFailureObserver(OpenFailureObserver observer)
{
    m_openFailureObserver = std::move(observer);
}

int CSerialPort::FailOpen(const SerialError& error)
{
    m_lastOpenError = error;
    if (m_openFailureObserver)
        m_openFailureObserver(m_lastOpenError);
    return 0;
}

int CSerialPort::SetTimeouts(int ms)
{
    if (!IsOpen() || ms < 0)
        return 0;
    return m_backend->SetTimeouts(std::chrono::milliseconds(ms)) ? 1 : 0;
}

int CSerialPort::Purge()
{
    if (!IsOpen())
        return 0;
    return m_backend->Purge() ? 1 : 0;
}

void CSerialPort::ReleaseForExit()
{
    m_backend->ReleaseForExit();
}

int CSerialPort::Close()
{
    m_backend->Close();
    return 1;
}

int CSerialPort::Write(const std::uint8_t* data, int length)
{
    if (!IsOpen() || length < 0)
        return 0;
    if (length == 0)
        return 1;
    const auto want = static_cast<std::size_t>(length);
    const std::size_t written = m_backend->Write(data, want);
    if (m_trafficObserver && written > 0)
        m_trafficObserver(true, data, written);
    return written == want ? 1 : 0;
}

int CSerialPort::Read(std::uint8_t* data, int length)
{
    if (!IsOpen() || length < 0)
        return 0;
    if (length == 0)
        return 1;
    const auto want = static_cast<std::size_t>(length);
    const std::size_t got = m_backend->Read(data, want);
    if (m_trafficObserver && got > 0)
        m_trafficObserver(false, data, got);
    return got == want ? 1 : 0;
}

void CSerialPort::SetTrafficObserver(TrafficObserver observer)
{
    m_trafficObserver = std::move(observer);
}
