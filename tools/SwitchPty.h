#pragma once

#include <string>

// The pseudo-terminal the simulated switch plays on. The master is the
// switch's end of the cable (non-blocking); the slave's path is what the host
// opens. The slave is also held open here, set raw at 115200 8N2, so that
// the master never sees a hang-up between two hosts' opens and a host that
// reads before it sets the line up sees no echo.
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
    int KeptSlave() const { return m_slaveKeep; }
    bool IsOpen() const { return m_master >= 0; }
    const std::string& DevicePath() const { return m_devicePath; }

private:
    int m_master = -1;
    int m_slaveKeep = -1;
    std::string m_devicePath;
    std::string m_linkPath; // set while the link is ours to remove
};
