#pragma once

// A USB serial adapter holds what it receives for its latency timer (16 ms
// on FTDI chips) before passing it on: longer than the wait for a block's
// reply. Linux's drivers take the low-latency flag (ASYNC_LOW_LATENCY) as a
// request for their shortest timer (1 ms on ftdi_sio), and let a user
// without root set it. It is asked for while the port is ours and put back
// as it was when we let go; a driver or a pseudo-terminal that does not take
// it is no error.
class PosixLowLatency {
public:
    // Sets the flag on fd if it is not set. True when it was set here.
    bool Enable(int fd);
    // Clears it again, if Enable set it.
    void Restore(int fd);

private:
    bool m_changed = false;
};
