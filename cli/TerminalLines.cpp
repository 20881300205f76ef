#include "cli/TerminalLines.h"

#include <algorithm>
#include <ostream>

#include "cli/TranscriptRecorder.h"

namespace {

constexpr int kBarWidth = 40;
constexpr int kMinBarWidth = 10;
constexpr int kBarDecoration = 8; // "[" "] " "nnn" " %"

// Clears the terminal line the cursor is on and goes to its start.
const char kEraseLine[] = "\r\033[K";

// Built piece by piece: GCC 12 takes a literal + temporary string chain for
// an overlapping copy (-Wrestrict) in optimised builds.
std::string ProgressBar(int percent, int width)
{
    const int filled = percent * width / 100;
    const std::string number = std::to_string(percent);
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    bar += "] ";
    bar.append(3 - number.size(), ' ');
    bar += number;
    bar += " %";
    return bar;
}

} // namespace

TerminalLines::TerminalLines(std::ostream& out, std::ostream& err, bool errIsTerminal, TranscriptRecorder& recorder)
    : m_out(&out), m_err(err), m_errIsTerminal(errIsTerminal), m_recorder(recorder)
{
}

void TerminalLines::SetColumns(int columns)
{
    if (columns > 0)
        m_columns = columns;
}

void TerminalLines::SendOutputToErrorStream()
{
    m_out = &m_err;
    m_shared = true;
}

void TerminalLines::Out(const std::string& text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
        PutOut(text.substr(start, end - start));
        if (OutAtLineStart())
            FlushNotes();
        start = end;
    }
}

// piece holds at most one line break, at its end.
void TerminalLines::PutOut(const std::string& piece)
{
    if (piece.empty())
        return;
    if (!m_shared) {
        *m_out << piece;
        m_outAtLineStart = piece.back() == '\n';
        return;
    }
    m_outHeld += piece;
    if (m_outHeld.back() == '\n') {
        EraseLive();
        *m_out << m_outHeld;
        m_out->flush();
        m_outHeld.clear();
    }
}

bool TerminalLines::OutAtLineStart() const
{
    return m_shared ? m_outHeld.empty() : m_outAtLineStart;
}

void TerminalLines::StartOutLine()
{
    if (!OutAtLineStart())
        Out("\n");
}

void TerminalLines::EndOutput()
{
    EraseLive();
    if (m_shared && !m_outHeld.empty()) {
        *m_out << m_outHeld << "\n";
        m_outHeld.clear();
    } else if (!m_shared && !m_outAtLineStart) {
        *m_out << "\n";
        m_outAtLineStart = true;
    }
    m_out->flush();
    FlushNotes();
}

void TerminalLines::FlushNotes()
{
    std::vector<std::string> notes;
    notes.swap(m_notes);
    for (const std::string& note : notes)
        ErrLine(note);
}

void TerminalLines::ErrLine(const std::string& text)
{
    m_recorder.Line("err", text);
    m_out->flush();
    EraseLive();
    if (!m_errAtLineStart)
        m_err << "\n";
    m_err << text << "\n";
    m_errAtLineStart = true;
}

void TerminalLines::EraseLive()
{
    if (m_liveShown.empty())
        return;
    m_err << kEraseLine;
    m_liveShown.clear();
}

void TerminalLines::DrawLive()
{
    // Only on a terminal, and not while a question waits on the line.
    if (!m_errIsTerminal || !m_errAtLineStart)
        return;
    const std::string text = LiveText();
    if (text == m_liveShown)
        return;
    if (text.empty()) {
        EraseLive();
        return;
    }
    m_err << kEraseLine << text;
    m_liveShown = text;
}

void TerminalLines::ShowBar(int percent)
{
    m_barActive = true;
    m_barPercent = percent;
    DrawLive();
}

void TerminalLines::LeaveBar()
{
    if (!m_barActive)
        return;
    ErrLine(ProgressBar(m_barPercent, kBarWidth));
    m_barActive = false;
}

void TerminalLines::Ask(const std::string& question)
{
    EraseLive();
    m_err << question;
    m_errAtLineStart = false;
    Flush();
}

void TerminalLines::AnswerEnded(bool newline)
{
    if (newline) {
        m_err << "\n";
        m_err.flush();
    }
    m_errAtLineStart = true;
}

void TerminalLines::Flush()
{
    m_out->flush();
    m_err.flush();
}

void TerminalLines::FlushErr()
{
    m_err.flush();
}

// The held part of the output's line, then the bar, cut from the left to fit
// the terminal's width: a line that wraps could no longer be erased.
std::string TerminalLines::LiveText() const
{
    std::string held = m_shared ? m_outHeld : std::string();
    std::replace(held.begin(), held.end(), '\t', ' ');
    const int room = m_columns - 1;
    std::string text = held;
    if (m_barActive) {
        int width = kBarWidth;
        if (!held.empty()) {
            width = std::clamp(room - static_cast<int>(held.size()) - 1 - kBarDecoration, kMinBarWidth,
                               kBarWidth);
            text += " ";
        }
        text += ProgressBar(m_barPercent, width);
    }
    if (room > 0 && text.size() > static_cast<std::size_t>(room))
        text.erase(0, text.size() - static_cast<std::size_t>(room));
    return text;
}
