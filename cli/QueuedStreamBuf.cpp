#include "cli/QueuedStreamBuf.h"

#include <string_view>

#include "cli/OutputQueue.h"

QueuedStreamBuf::QueuedStreamBuf(OutputQueue& queue, int fd) : m_queue(queue), m_fd(fd) {}

QueuedStreamBuf::int_type QueuedStreamBuf::overflow(int_type ch)
{
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    m_queue.Append(m_fd, std::string_view(&c, 1));
    return ch;
}

std::streamsize QueuedStreamBuf::xsputn(const char* text, std::streamsize count)
{
    if (count > 0)
        m_queue.Append(m_fd, std::string_view(text, static_cast<std::size_t>(count)));
    return count;
}
