#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The host's end of the simulated switch's line, with plain POSIX I/O: frames
// go out as the utility sends them (payload, then the checksum in a write of
// its own) and replies are read under poll time-outs that are upper bounds.
class HostLine {
public:
    explicit HostLine(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio{};
            ::tcgetattr(m_fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~HostLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HostLine(const HostLine&) = delete;
    HostLine& operator=(const HostLine&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    static std::uint8_t Checksum(const std::vector<std::uint8_t>& payload)
    {
        unsigned sum = 0;
        for (std::uint8_t b : payload)
            sum += b;
        return static_cast<std::uint8_t>(-sum);
    }

    bool Send(const std::vector<std::uint8_t>& payload)
    {
        const std::uint8_t checksum = Checksum(payload);
        return WriteAll(payload) && WriteAll({checksum});
    }

    bool WriteAll(const std::vector<std::uint8_t>& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{m_fd, POLLOUT, 0};
                if (::poll(&p, 1, 2000) <= 0)
                    return false;
            } else {
                return false;
            }
        }
        return true;
    }

    // Up to `count` bytes; stops early when nothing arrives within `timeout`
    // of the call (not of the last byte).
    std::vector<std::uint8_t> ReadExactly(std::size_t count,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(3))
    {
        std::vector<std::uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            std::uint8_t buffer[512];
            std::size_t want = std::min(sizeof buffer, count - out.size());
            ssize_t n = ::read(m_fd, buffer, want);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    // Everything that arrives until a silence of `gap`.
    std::vector<std::uint8_t> ReadUntilSilence(std::chrono::milliseconds gap)
    {
        std::vector<std::uint8_t> out;
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(gap.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0 || !(p.revents & POLLIN))
                return out;
            std::uint8_t buffer[512];
            ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return out;
            out.insert(out.end(), buffer, buffer + n);
        }
    }

private:
    int m_fd = -1;
};
