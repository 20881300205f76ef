#pragma once

#include <optional>
#include <string>

// The line a simulated switch plays on: a pseudo-terminal's master, raw from
// the start and non-blocking, whose slave (DevicePath) the host opens, and on
// request a symbolic link to that slave.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { Close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // linkPath: where the link goes; empty for none. An existing file there
    // is replaced only when it is a symbolic link. False, with the reason in
    // error, when the line cannot be made; nothing is left open then.
    bool Open(const std::string& linkPath, std::string* error);
    // The master closed (the device node goes with it) and our own link
    // removed.
    void Close();
    // The line hung up: the master closed, the link left as it is.
    void CloseMaster();

    // -1 once closed.
    int Master() const { return m_master; }
    const std::string& DevicePath() const { return m_devicePath; }

    // No host holds the slave open: the master sees a hang-up and nothing
    // left to read.
    bool NoHost() const;
    // Whether the host's input queue holds bytes it has not read, what the
    // master wrote on its way there counting as unread; nothing when it
    // cannot be looked at.
    std::optional<bool> HostHasUnread() const;

private:
    bool MakeLink(const std::string& linkPath, std::string* error);

    int m_master = -1;
    std::string m_devicePath;
    std::string m_linkPath; // the link made; empty: none
};
