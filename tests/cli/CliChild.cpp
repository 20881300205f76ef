#include "CliChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef KVM_CLI_PATH
#error "KVM_CLI_PATH must name the kvm-upgrade-cli executable"
#endif

extern char** environ;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

CliChild::CliChild(const std::vector<std::string>& args) : CliChild(args, Setup{}) {}

CliChild::CliChild(const std::vector<std::string>& args, const Setup& setup)
{
    m_folder = (std::filesystem::temp_directory_path() / "kvm-cli-XXXXXX").string();
    if (::mkdtemp(m_folder.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    m_outPath = m_folder + "/out";

    int errPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    if (setup.terminal < 0 && ::pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    if (setup.out == Setup::Out::ReaderGone && ::pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");

    std::vector<std::string> argvText;
    if (setup.user > 0) {
        const std::string id = std::to_string(setup.user);
        argvText = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
    }
    argvText.push_back(KVM_CLI_PATH);
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (setup.terminal >= 0) {
        posix_spawn_file_actions_adddup2(&actions, setup.terminal, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, setup.terminal, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    }
    if (setup.out == Setup::Out::Closed) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    } else if (setup.out == Setup::Out::ReaderGone) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    } else if (setup.terminal < 0) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }

    // The child starts with the signals as a shell gives them to a program
    // in the foreground, whatever the test runner has set.
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
    // The reader of stdout goes before the child writes anything.
    for (const int fd : {errPipe[1], outPipe[0], outPipe[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
    m_errFd = errPipe[0];
    m_errEnded = m_errFd < 0;
    if (spawnError != 0) {
        if (m_errFd >= 0)
            ::close(m_errFd);
        m_errFd = -1;
        throw std::runtime_error("cannot start " + argvText[0]);
    }
}

CliChild::~CliChild()
{
    Kill();
    if (m_errFd >= 0)
        ::close(m_errFd);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

bool CliChild::ReadSome(Clock::time_point deadline)
{
    if (m_errEnded)
        return false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd poller{m_errFd, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[4096];
        const ssize_t count = ::read(m_errFd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            m_errEnded = true;
            return false;
        }
        m_err.append(buffer, static_cast<std::size_t>(count));
        return true;
    }
}

bool CliChild::WaitForErr(const std::string& text, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_err.find(text) == std::string::npos) {
        if (!ReadSome(deadline))
            return m_err.find(text) != std::string::npos;
    }
    return true;
}

void CliChild::Signal(int signo)
{
    if (m_pid > 0)
        ::kill(m_pid, signo);
}

CliRunner::Result CliChild::Wait(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (ReadSome(deadline)) {
    }
    if (!m_errEnded || !WaitForExit(deadline))
        Kill();

    CliRunner::Result result;
    int status = 0;
    if (m_pid > 0) {
        while (::waitpid(m_pid, &status, 0) < 0) {
            if (errno != EINTR)
                throw std::runtime_error("waitpid failed");
        }
        m_pid = -1;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.out = ReadAll(m_outPath);
    result.err = m_err;
    return result;
}

bool CliChild::WaitForExit(Clock::time_point deadline)
{
    if (m_pid <= 0)
        return true;
    // A descriptor for the process itself turns readable when it ends: the
    // wait is a poll, as for stderr.
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

void CliChild::Kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}
