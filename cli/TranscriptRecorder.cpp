#include "cli/TranscriptRecorder.h"

#include "cli/Transcript.h"

void TranscriptRecorder::Line(const char* channel, const std::string& text)
{
    if (m_transcript != nullptr)
        m_transcript->Line(channel, text);
}

void TranscriptRecorder::Out(const std::string& text)
{
    if (m_transcript == nullptr)
        return;
    m_held += text;
    const std::size_t end = m_held.rfind('\n');
    if (end == std::string::npos)
        return;
    m_transcript->Line("out", m_held.substr(0, end));
    m_held.erase(0, end + 1);
}

void TranscriptRecorder::OutBreak()
{
    if (m_transcript == nullptr || m_held.empty())
        return;
    m_transcript->Line("out", m_held);
    m_held.clear();
}
