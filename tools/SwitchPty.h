#pragma once

#include <optional>
#include <string>

// The pseudo-terminal the simulated switch plays on. The master is the
// switch's end of the cable (non-blocking); the slave's path is what the host
// opens. The slave is set raw at 115200 8N2 through a descriptor opened for
// that only: the settings stay with the terminal while the master is open,
// and nothing of ours holds the host's end, so a host that finds another
// holder of its port refuses it, as it should.
class SwitchPty {
public:
    SwitchPty() = default;
    ~SwitchPty();
    SwitchPty(const SwitchPty&) = delete;
    SwitchPty& operator=(const SwitchPty&) = delete;

    // A new pair, and the symbolic link linkPath to it unless that is empty.
    bool Open(const std::string& linkPath, std::string* error);
    // The line goes, and the device node with it; the link stays until Close.
    void HangUp();
    void Close(); // the line and our own link

    int Master() const { return m_master; }
    // No host holds the line open, and nothing a host wrote is left to read.
    bool NoHost() const;
    // Whether the host has input it has not read yet, seen through a
    // descriptor opened for the look only; nullopt where that open is
    // refused (a host's exclusive flag keeps out all but root).
    std::optional<bool> HostHasUnread() const;
    bool IsOpen() const { return m_master >= 0; }
    const std::string& DevicePath() const { return m_devicePath; }

private:
    int m_master = -1;
    std::string m_devicePath;
    std::string m_linkPath; // set while the link is ours to remove
};
