#include "tools/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

void SetError(std::string* error, const std::string& what)
{
    if (error)
        *error = what + ": " + std::strerror(errno);
}

} // namespace

bool PseudoTerminal::Open(const std::string& linkPath, std::string* error)
{
    Close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        SetError(error, "posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 || ::ptsname_r(m_master, name, sizeof name) != 0) {
        SetError(error, "pseudo-terminal set-up");
        CloseMaster();
        return false;
    }
    m_devicePath = name;

    // Raw at once: a host that opens the line before setting it up must not
    // see its bytes echoed or translated. The settings stay with the
    // terminal while the master is open; the slave is not kept: a host that
    // finds another holder of its port refuses it, as it should.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || ::tcgetattr(slave, &tio) != 0) {
        SetError(error, "open " + m_devicePath);
        if (slave >= 0)
            ::close(slave);
        CloseMaster();
        return false;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD | CSTOPB;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const bool set = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    ::close(slave);
    if (!set) {
        SetError(error, "tcsetattr " + m_devicePath);
        CloseMaster();
        return false;
    }

    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) {
        SetError(error, "pseudo-terminal set-up");
        CloseMaster();
        return false;
    }
    if (!linkPath.empty() && !MakeLink(linkPath, error)) {
        CloseMaster();
        return false;
    }
    return true;
}

bool PseudoTerminal::MakeLink(const std::string& linkPath, std::string* error)
{
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            if (error)
                *error = linkPath + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(linkPath.c_str());
    }
    if (::symlink(m_devicePath.c_str(), linkPath.c_str()) != 0) {
        SetError(error, "symlink " + linkPath);
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

void PseudoTerminal::Close()
{
    CloseMaster();
    if (m_linkPath.empty())
        return;
    // Only our own link goes: someone may have replaced it meanwhile.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_devicePath)
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}

void PseudoTerminal::CloseMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PseudoTerminal::NoHost() const
{
    // The hang-up that poll() reports stays until a host opens the line;
    // what a host wrote before it closed again is still read (POLLIN).
    pollfd p{m_master, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN);
}

std::optional<bool> PseudoTerminal::HostHasUnread() const
{
    // Through a descriptor of our own, opened for the look only: poll() first
    // moves what the master wrote into the host's queue. A host's exclusive
    // flag refuses it to all but root.
    const int slave = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return std::nullopt;
    pollfd p{slave, POLLIN, 0};
    const bool unread = ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    ::close(slave);
    return unread;
}
