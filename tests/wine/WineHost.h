#pragma once

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// The Windows build's programs run under Wine, in the Wine prefix of the
// Windows build folder. A COM port of Wine's is a link in the prefix's
// dosdevices folder to a Linux device, here a pseudo-terminal.
class WineHost {
public:
    // Sets WINEPREFIX (and quiets Wine) for every child; once, before any
    // thread starts.
    static void Prepare(const std::string& prefix = DefaultPrefix());
    // The Wine prefix of the Windows build folder.
    static std::string DefaultPrefix();

    // A program of the Windows build, by its path under that build folder.
    static std::string Program(const std::string& relativePath);

    // Runs program with args under Wine and waits for it.
    static ChildProcess::Result Run(const std::string& program, const std::vector<std::string>& args);
    // The same, left running for the test to talk to.
    static std::vector<std::string> Command(const std::string& program,
                                            const std::vector<std::string>& args);

    // The Windows name of a Linux path: Z:\tmp\... .
    static std::string WindowsPath(const std::string& linuxPath);

    // A finished program's exit status and output, for a failure message.
    static std::string Trace(const ChildProcess::Result& result);
};

// A COM port of Wine's that reaches device, under the first free number at
// or above first; removed with the object. Claiming is atomic (a symbolic
// link is made or not), so tests running side by side never share one.
class WineComLink {
public:
    WineComLink(const std::string& device, int first);
    ~WineComLink();
    WineComLink(const WineComLink&) = delete;
    WineComLink& operator=(const WineComLink&) = delete;

    int Number() const { return m_number; }
    std::string Name() const { return "COM" + std::to_string(m_number); }
    // The device name that opens it from Windows: \\.\COMn.
    std::string Device() const { return "\\\\.\\" + Name(); }

private:
    int m_number = 0;
    std::string m_link;
};
