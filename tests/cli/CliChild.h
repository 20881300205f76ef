#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "CliRunner.h"

// The built kvm-upgrade-cli running as a child process: stdin from
// /dev/null, stdout into a file, stderr through a pipe that the test reads
// while the child runs, so that it can wait for what the child says.
class CliChild {
public:
    // How the child starts, when not as above.
    struct Setup {
        enum class Out {
            File,       // read back by Wait()
            Closed,     // started with descriptor 1 closed (>&-)
            ReaderGone, // a pipe whose reader has gone (| head -1 that ended)
        };
        Out out = Out::File;
        // >= 0: stdout and stderr both on this descriptor (a terminal that
        // the test controls); nothing of them is read here.
        int terminal = -1;
        // > 0: the child runs as this user (through setpriv), so that a
        // test run as root can still meet a file it may not read.
        uid_t user = 0;
    };

    explicit CliChild(const std::vector<std::string>& args);
    CliChild(const std::vector<std::string>& args, const Setup& setup);
    ~CliChild(); // kills a child still running
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    // Reads stderr until it holds text. False when the time-out passes or
    // the child closes stderr first.
    bool WaitForErr(const std::string& text, std::chrono::milliseconds timeout);
    const std::string& ErrSoFar() const { return m_err; }

    void Signal(int signo);

    // Reads stderr to its end and reaps the child; a child still running
    // after the time-out is killed (exit code -1).
    CliRunner::Result Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

private:
    using Clock = std::chrono::steady_clock;

    bool ReadSome(Clock::time_point deadline); // false at the end of stderr or the deadline
    bool WaitForExit(Clock::time_point deadline); // false when the child still runs at the deadline
    void Kill();

    std::string m_folder;
    std::string m_outPath;
    pid_t m_pid = -1;
    int m_errFd = -1;
    bool m_errEnded = false;
    std::string m_err;
};
