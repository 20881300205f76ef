#include "serial/Win32SerialBackend.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using Kind = SerialError::Kind;

HANDLE AsHandle(void* handle)
{
    return static_cast<HANDLE>(handle);
}

Kind KindForOpenError(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return Kind::NoSuchDevice;
    // A port that another program holds answers access denied: the open
    // asks for sharing mode 0.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return Kind::Busy;
    default:
        return Kind::Other;
    }
}

// Errors after which the adapter is gone for good: a USB adapter pulled out
// mid-run answers with one of these, and so does every later call.
bool IsGoneError(DWORD err)
{
    switch (err) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
    case ERROR_ACCESS_DENIED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_NOT_CONNECTED:
        return true;
    default:
        return false;
    }
}

// "COM27", "com3": a port name without the \\.\ prefix.
bool IsBareComName(const std::string& device)
{
    if (device.size() < 4 || (device[0] != 'C' && device[0] != 'c') || (device[1] != 'O' && device[1] != 'o')
        || (device[2] != 'M' && device[2] != 'm'))
        return false;
    return std::all_of(device.begin() + 3, device.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void Fail(SerialError& error, Kind kind, DWORD err)
{
    error.kind = kind;
    error.sysErrno = static_cast<int>(err);
}

DWORD ClampToDword(std::size_t length)
{
    return static_cast<DWORD>(std::min<std::size_t>(length, std::numeric_limits<DWORD>::max()));
}

} // namespace

std::unique_ptr<SerialBackend> SerialBackend::Create()
{
    return std::make_unique<Win32SerialBackend>();
}

Win32SerialBackend::~Win32SerialBackend()
{
    Close();
}

bool Win32SerialBackend::Open(const std::string& device, int baudRate, SerialError& error)
{
    error.device = device;
    if (m_handle != nullptr) {
        Fail(error, Kind::AlreadyOpen, 0);
        return false;
    }
    // Read and write, no other opener, never create, no overlapped I/O. A
    // bare "COM12" names a port only up to COM9: \\.\ reaches them all.
    const std::string name = IsBareComName(device) ? "\\\\.\\" + device : device;
    HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        Fail(error, KindForOpenError(err), err);
        return false;
    }
    // A mapping to a file or a pipe would open too, and the image would be
    // written into it: only a character device can be a serial line.
    if (::GetFileType(handle) != FILE_TYPE_CHAR) {
        ::CloseHandle(handle);
        Fail(error, Kind::NotATerminal, 0);
        return false;
    }
    if (!::SetupComm(handle, 1024, 1024)) {
        const DWORD err = ::GetLastError();
        ::CloseHandle(handle);
        Fail(error, Kind::SettingsRefused, err);
        return false;
    }
    // Every field not set here stays 0: no parity checking, no flow control
    // of any kind, no error or end-of-file character, no abort on a line
    // error.
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = TWOSTOPBITS;
    // Never sent (no XON/XOFF flow control), but SetCommState fails when the
    // two are equal, as they would be left at 0.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!::SetCommState(handle, &dcb)) {
        const DWORD err = ::GetLastError();
        ::CloseHandle(handle);
        Fail(error, Kind::SettingsRefused, err);
        return false;
    }
    m_handle = handle;
    m_finerTimer.emplace();
    m_dead = false;
    m_ioError = Kind::None;
    m_ioErrno = 0;
    error.kind = Kind::None;
    error.sysErrno = 0;
    return true;
}

bool Win32SerialBackend::IsOpen() const
{
    return m_handle != nullptr;
}

void Win32SerialBackend::Close()
{
    if (m_handle == nullptr)
        return;
    if (!m_dead) {
        // A driver may drop what is still queued when its handle closes.
        m_watchdog.Arm(kCloseDrainLimit);
        ::FlushFileBuffers(AsHandle(m_handle));
        m_watchdog.Disarm();
    }
    ::CloseHandle(AsHandle(m_handle));
    m_finerTimer.reset();
    m_handle = nullptr;
    m_dead = false;
}

bool Win32SerialBackend::SetTimeouts(std::chrono::milliseconds interval)
{
    if (m_handle == nullptr || interval.count() < 0)
        return false;
    const DWORD ms = static_cast<DWORD>(std::min<long long>(interval.count(), MAXDWORD - 1));
    COMMTIMEOUTS timeouts{};
    if (ms == 0) {
        // All zeros would mean "wait for every byte for ever": a zero
        // interval is a read that returns at once with what has arrived.
        timeouts.ReadIntervalTimeout = MAXDWORD;
    } else {
        timeouts.ReadIntervalTimeout = ms;
        timeouts.ReadTotalTimeoutMultiplier = ms;
        timeouts.ReadTotalTimeoutConstant = ms;
    }
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return ::SetCommTimeouts(AsHandle(m_handle), &timeouts) != 0;
}

bool Win32SerialBackend::Purge()
{
    if (m_handle == nullptr || m_dead)
        return false;
    if (!::PurgeComm(AsHandle(m_handle), PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        FailIoOrHangUp(Kind::ReadFailed, ::GetLastError());
        return false;
    }
    return true;
}

std::size_t Win32SerialBackend::Write(const std::uint8_t* data, std::size_t length)
{
    if (m_handle == nullptr || m_dead)
        return 0;
    const DWORD want = ClampToDword(length);
    DWORD written = 0;
    // The limit grows with the length at well under the line's speed, so
    // only a line that takes nothing for seconds trips it.
    m_watchdog.Arm(kWriteStallLimit + std::chrono::milliseconds(want / 8));
    const BOOL ok = ::WriteFile(AsHandle(m_handle), data, want, &written, nullptr);
    const DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
    const bool stalled = m_watchdog.Disarm();
    if (!ok) {
        if (stalled && err == ERROR_OPERATION_ABORTED)
            FailIo(Kind::WriteStalled, err);
        else
            FailIoOrHangUp(Kind::WriteFailed, err);
    } else if (written < want) {
        // A write that ends short without an error: cancelled by the
        // watchdog, or cut off by a line that went away (Wine does this).
        FailIo(stalled ? Kind::WriteStalled : Kind::WriteFailed, 0);
    }
    return written;
}

std::size_t Win32SerialBackend::Read(std::uint8_t* data, std::size_t length)
{
    if (m_handle == nullptr || m_dead)
        return 0;
    // The driver keeps the time-outs: the read returns with all bytes, after
    // a gap between two bytes, or at the total limit, whichever comes first.
    DWORD got = 0;
    if (!::ReadFile(AsHandle(m_handle), data, ClampToDword(length), &got, nullptr))
        FailIoOrHangUp(Kind::ReadFailed, ::GetLastError());
    return got;
}

void Win32SerialBackend::ReleaseForExit()
{
    // Nothing outlives the process here: the exclusive open ends with its
    // handle, and every opener sets its own line settings (a DCB).
}

SerialError Win32SerialBackend::LastIoError() const
{
    SerialError error;
    error.kind = m_ioError;
    error.sysErrno = static_cast<int>(m_ioErrno);
    return error;
}

void Win32SerialBackend::FailIo(Kind kind, unsigned long err)
{
    m_ioError = kind;
    m_ioErrno = err;
}

void Win32SerialBackend::FailIoOrHangUp(Kind kind, unsigned long err)
{
    if (IsGoneError(err)) {
        m_dead = true;
        FailIo(Kind::HungUp, err);
        return;
    }
    FailIo(kind, err);
}
