#include "cli/Console.h"

#include <windows.h>
#include <io.h>

#include <string>

namespace Console {

namespace {

HANDLE HandleOf(int fd)
{
    const intptr_t handle = ::_get_osfhandle(fd);
    return handle == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

} // namespace

void PrepareProcess()
{
    // A pipe whose reader has gone fails the write (ERROR_NO_DATA); nothing
    // is raised, so there is nothing to ignore. The live progress line is
    // redrawn with "\r\033[K", which a console shows as it is meant only
    // with virtual terminal processing on (Windows 10 and later).
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = ::GetStdHandle(which);
        DWORD mode = 0;
        if (::GetConsoleMode(handle, &mode))
            ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool IsTerminal(int fd)
{
    // _isatty is true for NUL as well; only a console is somebody's screen.
    // An output console counts only where it understands the escape
    // sequences of the live line; elsewhere progress is printed as lines.
    DWORD mode = 0;
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode))
        return false;
    return fd == 0 || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool SameDestination(int a, int b)
{
    const HANDLE first = HandleOf(a);
    const HANDLE second = HandleOf(b);
    if (first == INVALID_HANDLE_VALUE || second == INVALID_HANDLE_VALUE)
        return false;
    if (IsConsole(first) && IsConsole(second))
        return true;
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION two{};
    if (!::GetFileInformationByHandle(first, &one) || !::GetFileInformationByHandle(second, &two))
        return first == second;
    return one.dwVolumeSerialNumber == two.dwVolumeSerialNumber
        && one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

int Columns(int fd)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(HandleOf(fd), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void WriteAll(int fd, std::string_view bytes)
{
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE || bytes.empty())
        return;
    if (IsConsole(handle)) {
        // The texts are in the ANSI code page (the arguments, file names);
        // the console shows its own OEM page, so they go as UTF-16.
        const int length = static_cast<int>(bytes.size());
        const int wide = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
        if (wide > 0) {
            std::wstring text(static_cast<std::size_t>(wide), L'\0');
            ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), wide);
            std::size_t done = 0;
            while (done < text.size()) {
                DWORD written = 0;
                if (!::WriteConsoleW(handle, text.data() + done,
                                     static_cast<DWORD>(text.size() - done), &written, nullptr)
                    || written == 0)
                    return;
                done += written;
            }
            return;
        }
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                         &written, nullptr)
            || written == 0)
            return; // the pipe's reader or the file has gone
        done += written;
    }
}

} // namespace Console
