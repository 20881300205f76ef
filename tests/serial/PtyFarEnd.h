#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <termios.h>

// The far end of a real pseudo-terminal: the host opens DevicePath() (the
// slave) like any serial device, the test plays the switch on the master.
// A second slave descriptor is kept so the master never sees a hang-up
// between host opens, and so the host's input queue can be inspected.
class PtyFarEnd {
public:
    PtyFarEnd();
    ~PtyFarEnd();
    PtyFarEnd(const PtyFarEnd&) = delete;
    PtyFarEnd& operator=(const PtyFarEnd&) = delete;

    const std::string& DevicePath() const { return m_path; }
    int Master() const { return m_master; }

    // Writes every byte to the host (fails the test if the line stays full).
    void Send(const std::vector<std::uint8_t>& bytes);

    // What the host wrote: up to n bytes, collected until n arrived or the
    // time-out passed.
    std::vector<std::uint8_t> Receive(std::size_t n, std::chrono::milliseconds timeout);

    // Bytes waiting in the host's input queue.
    std::size_t QueuedAtHost() const;
    // Waits until at least n bytes wait in the host's input queue.
    bool WaitQueuedAtHost(std::size_t n, std::chrono::milliseconds timeout) const;

    // The line settings the host left on the terminal.
    termios HostTermios() const;
    // Settings on the terminal before the host opens it, as another program
    // (a login shell, a console) may have left them.
    void SetHostTermios(const termios& tio);

    // Hangs the line up, as an unplugged adapter would.
    void CloseMaster();

    // Gives up the slave descriptor this process keeps, for a host in
    // another process: the host refuses a port that someone else holds
    // open. QueuedAtHost and the termios calls need it.
    void ReleaseKeeper();

private:
    std::string m_path;
    int m_master = -1;
    int m_slaveKeep = -1;
};
