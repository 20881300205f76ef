#include "cli/Transcript.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace {

// Local time with milliseconds and the offset from UTC, ISO 8601, e.g.
// "2026-12-07T15:40:01.123+01:00": a transcript read on another machine, or
// across a change of summer time, still says when.
std::string Stamp()
{
    using namespace std::chrono;
    const system_clock::time_point now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    // Called with the transcript's mutex held, the one caller of localtime
    // and gmtime.
    const std::tm local = *std::localtime(&seconds);
    // UTC's fields read as local time fall short of now by the offset.
    std::tm utc = *std::gmtime(&seconds);
    utc.tm_isdst = local.tm_isdst;
    const long offset = static_cast<long>(std::difftime(seconds, std::mktime(&utc)));
    const long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
    char text[48];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d%c%02ld:%02ld", static_cast<int>(millis),
                  offset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

} // namespace

Transcript::~Transcript()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_file == nullptr)
            return;
        FlushTraffic();
        m_quit = true;
    }
    m_wake.notify_all();
    m_writer.join();
    std::fclose(m_file);
}

bool Transcript::Open(const std::string& path, std::string& error)
{
    // Only a file on disk: a FIFO without a reader would block the open for
    // ever, and a terminal that stops reading would stop the transcript.
    std::error_code statusError;
    const std::filesystem::file_status status = std::filesystem::status(path, statusError);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = std::filesystem::is_directory(status) ? "is a directory" : "not a regular file";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "a+");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    // A run cut short mid-line (a full disk) must not have the next run's
    // first line glued to its last: that one starts a line of its own.
    if (std::fseek(file, -1, SEEK_END) == 0 && std::fgetc(file) != '\n')
        std::fputc('\n', file);
    std::lock_guard lock(m_mutex);
    m_file = file;
    m_writer = std::thread([this] { Run(); });
    return true;
}

void Transcript::Line(const char* channel, const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (m_file == nullptr)
        return;
    FlushTraffic();
    const std::string stamp = Stamp();
    std::size_t start = 0;
    do {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        Queue(stamp, channel, text.substr(start, end - start));
        start = end + 1;
    } while (start < text.size());
}

void Transcript::Traffic(bool sent, const std::uint8_t* data, std::size_t length)
{
    std::lock_guard lock(m_mutex);
    if (m_file == nullptr || length == 0)
        return;
    if (!m_traffic.empty() && sent != m_trafficSent)
        FlushTraffic();
    if (m_traffic.empty()) {
        m_trafficSent = sent;
        m_trafficStamp = Stamp();
    }
    static const char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < length; ++i) {
        if (!m_traffic.empty())
            m_traffic += ' ';
        m_traffic += kHex[data[i] >> 4];
        m_traffic += kHex[data[i] & 0x0f];
    }
}

void Transcript::Drain()
{
    std::unique_lock lock(m_mutex);
    FlushTraffic();
    m_idle.wait(lock, [this] { return IdleLocked(); });
}

bool Transcript::DrainFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    FlushTraffic();
    return m_idle.wait_for(lock, timeout, [this] { return IdleLocked(); });
}

bool Transcript::IsOpen()
{
    std::lock_guard lock(m_mutex);
    return m_file != nullptr;
}

std::string Transcript::Failure()
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void Transcript::FlushTraffic()
{
    if (m_file == nullptr || m_traffic.empty())
        return;
    Queue(m_trafficStamp, m_trafficSent ? "tx" : "rx", m_traffic);
    m_traffic.clear();
}

void Transcript::Queue(const std::string& stamp, const char* channel, const std::string& text)
{
    std::string line = stamp + " " + channel;
    line.append(line.size() < stamp.size() + 5 ? stamp.size() + 5 - line.size() : 0, ' ');
    line += " " + text + "\n";
    if (m_pending.size() + line.size() > kCapacityBytes) {
        if (!m_dropped)
            m_pending += stamp + " note the disk took no more; lines were dropped from here on\n";
        m_dropped = true;
        if (m_failure.empty())
            m_failure = "the disk took too long; lines were dropped";
        return;
    }
    m_pending += line;
    m_wake.notify_one();
}

void Transcript::Run()
{
    bool failed = false;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_pending.empty(); });
        if (m_pending.empty()) {
            if (m_quit)
                return;
            continue;
        }
        std::string text;
        text.swap(m_pending);
        m_writing = true;
        lock.unlock();
        // After a failed write nothing more is written: lines that follow a
        // gap would read as a whole record.
        std::string failure;
        if (!failed) {
            errno = 0;
            const bool written =
                std::fwrite(text.data(), 1, text.size(), m_file) == text.size() && std::fflush(m_file) == 0;
            if (!written) {
                failed = true;
                failure = errno != 0 ? std::strerror(errno) : "write error";
            }
        }
        lock.lock();
        if (!failure.empty() && m_failure.empty())
            m_failure = failure;
        m_writing = false;
        if (m_pending.empty())
            m_idle.notify_all();
    }
}
