#pragma once

#include <streambuf>

class OutputQueue;

// A stream buffer that hands every character straight to an OutputQueue,
// tagged with its descriptor, so that stdout and stderr keep the order they
// were written in. It holds nothing back: flush has nothing to do, and a
// stream over it never fails, whatever becomes of the descriptor.
class QueuedStreamBuf : public std::streambuf {
public:
    QueuedStreamBuf(OutputQueue& queue, int fd);

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    OutputQueue& m_queue;
    const int m_fd;
};
