#pragma once

#include <chrono>
#include <string>

// A pseudo-terminal whose output is stopped, as Ctrl-S (XOFF) stops it: every
// write to its slave side blocks until output is started again, which here
// never happens. A stalled SSH session looks the same to the program.
class StoppedTerminal {
public:
    StoppedTerminal(); // throws std::runtime_error when no terminal can be had
    ~StoppedTerminal();
    StoppedTerminal(const StoppedTerminal&) = delete;
    StoppedTerminal& operator=(const StoppedTerminal&) = delete;

    // The slave side, blocking, for a child's stdout and stderr.
    int Slave() const { return m_slave; }

    // Lets the output flow again (Ctrl-Q) and reads what the slave side
    // wrote until it holds text; false when the time-out passes first.
    // Line ends arrive as the terminal shows them, "\r\n".
    bool StartAndReadUntil(const std::string& text, std::chrono::milliseconds timeout);
    const std::string& Shown() const { return m_shown; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_shown;
};
