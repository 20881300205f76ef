#pragma once

#include <string_view>

// The standard streams as the platform has them: a terminal or console, a
// file, a pipe. One file per platform (PosixConsole.cpp, Win32Console.cpp),
// chosen by CMake. Descriptors are the C runtime's 0, 1 and 2.
namespace Console {

// Before any thread starts: a reader that has gone (| head -1) or a
// background job's output must not end or stop a run half-way.
void PrepareProcess();

// True when fd is an interactive terminal or console (not a file, a pipe
// or the null device).
bool IsTerminal(int fd);

// True when a and b reach the same terminal, file or pipe (2>&1).
bool SameDestination(int a, int b);

// The width of the terminal behind fd, 0 when it has none.
int Columns(int fd);

// Writes all of bytes to fd, or as much as it takes before it fails (the
// reader or the terminal has gone); never throws.
void WriteAll(int fd, std::string_view bytes);

} // namespace Console
