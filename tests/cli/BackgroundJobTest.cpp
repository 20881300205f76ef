// The command line as a job of an interactive shell: a session with a
// terminal, the upgrade in a process group of its own, the terminal's
// "tostop" set (stty tostop), and the job sent to the background while it
// runs (Ctrl-Z, bg; or started with &). The terminal is a pseudo-terminal of
// the test's own; the switch is the simulated one.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;
using F = FirmwareTestFiles;
using Bytes = F::Bytes;

constexpr std::size_t kFramesUntilSecondModelHeader = 6;

Bytes Firmware(std::size_t size)
{
    return F::RecordedImage(size, 7);
}

// A tiny job-control shell: a session leader whose controlling terminal is
// the pseudo-terminal's slave. It starts the program in a process group of
// its own, in the foreground, and moves it to the background when the test
// writes a byte to its command pipe. It reports the job's pid on its report
// pipe, and ends when the job has ended.
class ShellWithJob {
public:
    explicit ShellWithJob(const std::vector<std::string>& args)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        const std::string slave = ::ptsname(m_master);
        int command[2];
        int report[2];
        if (::pipe2(command, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        m_shell = ::fork();
        if (m_shell == 0) {
            // Only async-signal-safe calls from here on.
            ::setsid();
            const int tty = ::open(slave.c_str(), O_RDWR); // becomes the controlling terminal
            termios tio{};
            ::tcgetattr(tty, &tio);
            tio.c_lflag |= TOSTOP;
            ::tcsetattr(tty, TCSANOW, &tio);
            const pid_t job = ::fork();
            if (job == 0) {
                ::setpgid(0, 0);
                sigset_t none;
                sigemptyset(&none);
                ::sigprocmask(SIG_SETMASK, &none, nullptr);
                for (int s : {SIGINT, SIGTERM, SIGHUP, SIGTTOU, SIGTTIN, SIGTSTP, SIGPIPE})
                    ::signal(s, SIG_DFL);
                const int null = ::open("/dev/null", O_RDONLY);
                ::dup2(null, 0);
                ::dup2(tty, 1);
                ::dup2(tty, 2);
                ::execv(argv[0], argv.data());
                ::_exit(127);
            }
            ::setpgid(job, job);
            ::signal(SIGTTOU, SIG_IGN); // the shell's own tcsetpgrp
            ::tcsetpgrp(tty, job);      // the job runs in the foreground
            if (::write(report[1], &job, sizeof job) != sizeof job)
                ::_exit(1); // the test reads no job and fails
            // A byte, or the end of the line when the test is over: either
            // way the job goes to the background.
            char c = 0;
            [[maybe_unused]] const ssize_t got = ::read(command[0], &c, 1);
            ::tcsetpgrp(tty, ::getpgrp()); // ... and is now in the background
            ::waitpid(job, nullptr, 0);
            ::_exit(0);
        }
        ::close(command[0]);
        ::close(report[1]);
        m_command = command[1];
        if (::read(report[0], &m_job, sizeof m_job) != sizeof m_job)
            m_job = -1;
        ::close(report[0]);
        m_reader = std::thread([this] { DrainTerminal(); });
    }

    ~ShellWithJob()
    {
        // The job goes first, reaped by the shell, which then ends.
        if (m_job > 0)
            ::kill(-m_job, SIGKILL);
        if (m_shell > 0) {
            if (m_job <= 0)
                ::kill(m_shell, SIGKILL);
            ::waitpid(m_shell, nullptr, 0);
        }
        m_stop = true;
        m_reader.join();
        ::close(m_command);
        ::close(m_master);
    }

    void SendJobToBackground() { EXPECT_EQ(::write(m_command, "b", 1), 1); }

    // True when the job's process is stopped (state T).
    bool JobStopped() const
    {
        const std::string path = "/proc/" + std::to_string(m_job) + "/stat";
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0)
            return false;
        char buf[512] = {};
        const ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        const std::string stat(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        const auto paren = stat.rfind(')');
        return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'T';
    }

private:
    // What the job writes is read all the time: the terminal itself never
    // holds the job up.
    void DrainTerminal()
    {
        char buf[4096];
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && ::read(m_master, buf, sizeof buf) <= 0)
                return;
        }
    }

    int m_master = -1;
    int m_command = -1;
    pid_t m_shell = -1;
    pid_t m_job = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

// "stty tostop" and a job sent to the background: a write to the terminal
// would stop the whole process (SIGTTOU), the transfer with it, and leave
// the switch with half an image for as long as nobody brings the job back.
TEST(CliBackgroundJob, TerminalWithTostopNeverStopsTheTransfer)
{
    FirmwareTestFiles files;
    const Bytes image = Firmware(16384);
    const std::string path = files.Write("fw.bin", image);
    SwitchSimConfig config;
    config.goAheadDelay = 1500ms; // the job goes to the background while the switch erases
    auto sim = std::make_unique<SwitchSim>(config);
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;

    ShellWithJob shell({KVM_CLI_PATH, "--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1",
                        "--yes", path});
    ASSERT_TRUE(sim->WaitForFrames(kFramesUntilSecondModelHeader, 30s));
    shell.SendJobToBackground();

    EXPECT_TRUE(sim->WaitForEndOfImage(15s)) << (shell.JobStopped() ? "the job was stopped" : "");
    EXPECT_TRUE(sim->Report().image == image);
}

} // namespace
