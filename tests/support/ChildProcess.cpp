#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> args) : ChildProcess(std::move(args), Setup{}) {}

ChildProcess::ChildProcess(std::vector<std::string> args, const Setup& setup)
{
    if (setup.out == Stream::File || setup.err == Stream::File) {
        m_folder = (std::filesystem::temp_directory_path() / "kvm-child-XXXXXX").string();
        if (::mkdtemp(m_folder.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder");
        if (setup.out == Stream::File)
            m_outPath = m_folder + "/out";
        if (setup.err == Stream::File)
            m_errPath = m_folder + "/err";
    }

    if (setup.user > 0) {
        const std::string id = std::to_string(setup.user);
        args.insert(args.begin(),
                    {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"});
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Our ends of the pipes: read here, or closed at once for ReaderGone.
    int readEnds[2] = {-1, -1};
    int writeEnds[2] = {-1, -1};
    const Stream streams[2] = {setup.out, setup.err};
    const std::string* paths[2] = {&m_outPath, &m_errPath};
    for (int i = 0; i < 2; ++i) {
        const int target = i == 0 ? STDOUT_FILENO : STDERR_FILENO;
        switch (streams[i]) {
        case Stream::Pipe:
        case Stream::ReaderGone: {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0)
                throw std::runtime_error("cannot make a pipe");
            readEnds[i] = ends[0];
            writeEnds[i] = ends[1];
            posix_spawn_file_actions_adddup2(&actions, ends[1], target);
            break;
        }
        case Stream::File:
            posix_spawn_file_actions_addopen(&actions, target, paths[i]->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
            break;
        case Stream::Null:
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
            break;
        case Stream::Closed:
            posix_spawn_file_actions_addclose(&actions, target);
            break;
        case Stream::Terminal:
            posix_spawn_file_actions_adddup2(&actions, setup.terminal, target);
            break;
        }
    }

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int spawnError = posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int i = 0; i < 2; ++i) {
        CloseFd(writeEnds[i]);
        // The reader of a ReaderGone pipe goes before the child writes anything.
        if (streams[i] == Stream::ReaderGone)
            CloseFd(readEnds[i]);
    }
    m_out.fd = readEnds[0];
    m_out.ended = m_out.fd < 0;
    m_err.fd = readEnds[1];
    m_err.ended = m_err.fd < 0;
    if (spawnError != 0) {
        m_pid = -1;
        CloseFd(m_out.fd);
        CloseFd(m_err.fd);
        throw std::runtime_error("cannot start " + args[0]);
    }
}

ChildProcess::~ChildProcess()
{
    Kill();
    CloseFd(m_out.fd);
    CloseFd(m_err.fd);
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

void ChildProcess::Signal(int signo)
{
    if (m_pid > 0)
        ::kill(m_pid, signo);
}

bool ChildProcess::ReadSome(Clock::time_point deadline)
{
    Capture* open[2];
    pollfd pollers[2];
    nfds_t count = 0;
    for (Capture* capture : {&m_out, &m_err}) {
        if (!capture->ended) {
            open[count] = capture;
            pollers[count] = {capture->fd, POLLIN, 0};
            ++count;
        }
    }
    if (count == 0)
        return false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        const int ready = ::poll(pollers, count, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        break;
    }
    for (nfds_t i = 0; i < count; ++i) {
        if (pollers[i].revents == 0)
            continue;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(open[i]->fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
        }
        if (n <= 0)
            open[i]->ended = true;
        else
            open[i]->text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

std::string ChildProcess::ReadLine(Capture& capture, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t nl = capture.text.find('\n', capture.lineStart);
        if (nl != std::string::npos) {
            std::string line = capture.text.substr(capture.lineStart, nl - capture.lineStart);
            capture.lineStart = nl + 1;
            return line;
        }
        if (capture.ended || !ReadSome(deadline))
            return {};
    }
}

std::string ChildProcess::ReadOutLine(std::chrono::milliseconds timeout)
{
    return ReadLine(m_out, timeout);
}

std::string ChildProcess::ReadErrLine(std::chrono::milliseconds timeout)
{
    return ReadLine(m_err, timeout);
}

bool ChildProcess::WaitForErr(const std::string& text, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_err.text.find(text) == std::string::npos) {
        if (m_err.ended || !ReadSome(deadline))
            return m_err.text.find(text) != std::string::npos;
    }
    return true;
}

ChildProcess::Result ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (ReadSome(deadline)) {
    }
    if (!m_out.ended || !m_err.ended || !WaitForExit(deadline))
        Kill();
    Reap();

    Result result;
    result.exitCode = WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    result.out = m_outPath.empty() ? m_out.text : ReadAll(m_outPath);
    result.err = m_errPath.empty() ? m_err.text : ReadAll(m_errPath);
    result.cpuTime = m_cpuTime;
    result.peakRssKiB = m_peakRssKiB;
    return result;
}

bool ChildProcess::WaitForExit(Clock::time_point deadline)
{
    if (m_pid <= 0)
        return true;
    // A descriptor for the process itself turns readable when it ends: the
    // wait is a poll, as for the pipes.
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidFd < 0)
        throw std::runtime_error("pidfd_open failed");
    bool ended = false;
    for (;;) {
        // At the deadline still one look, for a child that has just ended.
        const auto left = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        pollfd poller{pidFd, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        ended = ready > 0;
        break;
    }
    ::close(pidFd);
    return ended;
}

void ChildProcess::Kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    Reap();
}

void ChildProcess::Reap()
{
    if (m_pid <= 0)
        return;
    rusage usage{};
    while (::wait4(m_pid, &m_status, 0, &usage) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    m_cpuTime = std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    m_peakRssKiB = usage.ru_maxrss;
}
