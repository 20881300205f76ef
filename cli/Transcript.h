#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// --log FILE: everything the run says, each line with the time it was said,
// and with --verbose the bytes on the line. Written from the front end's
// thread and the upgrade worker's; every line reaches the file at once, so a
// run that is killed leaves its transcript up to its last word.
class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Appends to path, a regular file or a new one; false, with the reason
    // in error, when it cannot.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const;

    // One line (or several) under a channel name: "out", "err", "note".
    void Line(const char* channel, const std::string& text);
    // Bytes sent to (sent) or received from the switch. Consecutive bytes in
    // one direction make one line, started at the first of them.
    void Traffic(bool sent, const std::uint8_t* data, std::size_t length);
    // Writes out a traffic line still being gathered.
    void Flush();

private:
    // Both expect m_mutex held.
    void FlushTraffic();
    void Write(const std::string& stamp, const char* channel, const std::string& text);

    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    bool m_trafficSent = false;
    std::string m_trafficStamp;
    std::string m_traffic; // hex of the bytes gathered; empty = none
};
