#pragma once

#include <string>

// Wakes a thread out of its poll() from another thread: the thread polls
// ReadFd() beside its own descriptors, and Drain()s it once woken.
class WakePipe {
public:
    WakePipe() = default;
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    bool Open(std::string* error);
    void Close();

    void Wake();  // from any thread
    void Drain(); // on the woken thread
    int ReadFd() const { return m_fds[0]; }

private:
    int m_fds[2] = {-1, -1};
};
