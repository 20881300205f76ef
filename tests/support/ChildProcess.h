#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A program run as a child process for a test or a benchmark. Its stdin is
// /dev/null; its stdout and stderr go where the setup says, and what comes
// through a pipe is read here, under time-outs that are upper bounds (no
// wait here ever sleeps). It starts with the signals as a shell gives them
// to a program in the foreground, whatever the test runner has set.
class ChildProcess {
public:
    // Where stdout or stderr goes.
    enum class Stream {
        Pipe,       // read here while the child runs
        File,       // a file of its own, read back by Wait: it never fills up while nobody reads
        Null,       // /dev/null
        Closed,     // the descriptor is closed when the child starts (>&-)
        ReaderGone, // a pipe whose reader has gone (| head -1 that has ended)
        Terminal,   // Setup::terminal, a terminal the test controls; nothing is read here
    };
    struct Setup {
        Stream out = Stream::Pipe;
        Stream err = Stream::Pipe;
        int terminal = -1; // for Stream::Terminal
        // > 0: the child runs as this user (through setpriv), so that a test
        // run as root can still meet a file it may not read.
        uid_t user = 0;
    };
    struct Result {
        int exitCode = -1; // -1 when it did not exit normally, or was killed at the time-out
        std::string out;   // all of stdout that came through a pipe or a file
        std::string err;   // the same for stderr
        std::chrono::microseconds cpuTime{0}; // user and system time
        long peakRssKiB = 0;
    };

    // args[0] is the program's path. Throws when it cannot be started.
    explicit ChildProcess(std::vector<std::string> args);
    ChildProcess(std::vector<std::string> args, const Setup& setup);
    ~ChildProcess(); // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signo);

    // The next line of stdout or stderr, without its line break; empty at
    // the time-out or the stream's end.
    std::string ReadOutLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::string ReadErrLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Reads stderr until it holds text. False when the time-out passes or
    // the child closes stderr first.
    bool WaitForErr(const std::string& text, std::chrono::milliseconds timeout);
    const std::string& ErrSoFar() const { return m_err.text; }

    // Reads the pipes to their end and reaps the child; a child still
    // running after the time-out is killed.
    Result Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

private:
    using Clock = std::chrono::steady_clock;

    struct Capture {
        int fd = -1;
        bool ended = true;
        std::string text;
        std::size_t lineStart = 0; // where ReadOutLine/ReadErrLine go on
    };

    bool ReadSome(Clock::time_point deadline); // false at the deadline or with no pipe open
    std::string ReadLine(Capture& capture, std::chrono::milliseconds timeout);
    bool WaitForExit(Clock::time_point deadline); // false when the child still runs at the deadline
    void Kill();
    void Reap();

    pid_t m_pid = -1;
    int m_status = 0;
    std::chrono::microseconds m_cpuTime{0};
    long m_peakRssKiB = 0;
    Capture m_out;
    Capture m_err;
    std::string m_folder;  // made only for Stream::File
    std::string m_outPath; // stdout's file
    std::string m_errPath; // stderr's file
};
