#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

// A program run as a child process, its standard output and error read line
// by line under poll time-outs that are upper bounds.
class ChildProgram {
public:
    // args[0] is the program's path.
    explicit ChildProgram(std::vector<std::string> args)
    {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        // Built before the fork: the child of a threaded process must not allocate.
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~ChildProgram()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
        if (m_err >= 0)
            ::close(m_err);
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // One line of standard output, without its line break; empty on time-out or end.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return ReadLineFrom(m_out, m_outBuffer, timeout);
    }
    std::string ReadError(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return ReadLineFrom(m_err, m_errBuffer, timeout);
    }

    // The exit code, or -1 when it did not end normally within the time-out.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            // Its output pipe closes when it exits: wait on that, not on a clock.
            pollfd p{m_out, POLLIN, 0};
            ::poll(&p, 1, 100);
            if (p.revents & POLLIN) {
                char sink[256];
                if (::read(m_out, sink, sizeof sink) > 0)
                    continue;
            }
            pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }

    pid_t Pid() const { return m_pid; }

private:
    static std::string ReadLineFrom(int fd, std::string& buffer, std::chrono::milliseconds timeout)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto nl = buffer.find('\n'); nl != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char chunk[256];
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_out = -1;
    int m_err = -1;
    std::string m_outBuffer;
    std::string m_errBuffer;
};
