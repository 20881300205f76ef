#include "cli/CliServices.h"

#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>

#include "cli/Transcript.h"
#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"

namespace {

constexpr int kBarWidth = 40;
constexpr int kMinBarWidth = 10;
constexpr int kBarDecoration = 8; // "[" "] " "nnn" " %"

// How long a prompt whose read ended without an answer waits for the
// interrupt that may have ended it.
constexpr std::chrono::milliseconds kInterruptGrace{200};

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

bool IsYes(const std::string& answer)
{
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

} // namespace

CliServices::CliServices(SharedState& state, std::ostream& out, std::ostream& err, std::istream& in,
                         bool errIsTerminal, bool inIsTerminal)
    : m_state(state), m_out(&out), m_err(err), m_in(in), m_errIsTerminal(errIsTerminal),
      m_inIsTerminal(inIsTerminal)
{
}

void CliServices::SetSharedDestination(bool shared)
{
    std::lock_guard lock(m_mutex);
    m_shared = shared;
}

void CliServices::SetColumns(int columns)
{
    std::lock_guard lock(m_mutex);
    if (columns > 0)
        m_columns = columns;
}

void CliServices::SendOutputToErrorStream()
{
    std::lock_guard lock(m_mutex);
    m_out = &m_err;
    m_shared = true;
}

void CliServices::SetQuiet(bool quiet)
{
    std::lock_guard lock(m_mutex);
    m_quiet = quiet;
}

void CliServices::SetTranscript(Transcript* transcript)
{
    std::lock_guard lock(m_mutex);
    m_transcript = transcript;
}

void CliServices::SetPortSelection(const std::string& port)
{
    std::lock_guard lock(m_mutex);
    m_port = port;
}

void CliServices::SetAssumeYes(bool yes)
{
    std::lock_guard lock(m_mutex);
    m_assumeYes = yes;
}

std::string CliServices::Status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

void CliServices::PrintText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    RecordOut(text);
    EmitOut(text);
    DrawLive();
    m_out->flush();
    m_err.flush();
}

void CliServices::PrintLine(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    RecordOutBreak();
    RecordOut(line + "\n");
    StartOutLine();
    EmitOut(line + "\n");
    DrawLive();
    m_out->flush();
    m_err.flush();
}

void CliServices::PrintError(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    ErrLine(text);
    DrawLive();
    m_err.flush();
}

void CliServices::QueueNote(const std::string& text)
{
    // Called where the log is written: what it holds so far goes out first,
    // so the note follows the entry it explains, not the one before.
    const std::string log = m_state.logText;

    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    SyncLog(log);
    m_notes.push_back(text);
    if (OutAtLineStart())
        FlushNotes();
    DrawLive();
    m_out->flush();
    m_err.flush();
}

void CliServices::Finish()
{
    const std::string log = m_state.logText;

    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    SyncLog(log);
    EndOutput();
    if (m_barActive) {
        // The bar stays on the screen where it stopped, on a line of its own.
        ErrLine(ProgressBar(m_lastPercent, kBarWidth));
        m_barActive = false;
    }
    m_out->flush();
    m_err.flush();
}

void CliServices::Abandon(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    // The log is not read here: its writer may be in the middle of a change.
    EndOutput();
    m_barActive = false;
    ErrLine(text);
    m_out->flush();
    m_err.flush();
    m_closed = true;
    m_abandoned.notify_all();
}

void CliServices::SetStatus(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_status = text;
}

void CliServices::UpdateData()
{
    // The worker writes the log without a lock and then calls this; the copy
    // is taken on its thread, before anything else can change the text.
    const std::string log = m_state.logText;

    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    SyncLog(log);
    if (m_status != m_shownStatus) {
        // The status may hold a file's name or what the switch sent: an
        // escape sequence in it must not reach the terminal.
        if (!m_status.empty()) {
            Record("stat", PrintableText(m_status));
            if (!m_quiet)
                ErrLine(PrintableText(m_status));
        }
        m_shownStatus = m_status;
    }
    DrawLive();
    m_out->flush();
    m_err.flush();
}

void CliServices::TrimLog()
{
    {
        // A verdict appended just before the trim would otherwise never be
        // shown: the trim empties the log before the next UpdateData.
        const std::string log = m_state.logText;
        std::lock_guard lock(m_mutex);
        if (!m_closed) {
            SyncLog(log);
            DrawLive();
            m_out->flush();
            m_err.flush();
        }
    }
    // Not under the mutex: the rule pauses and then calls UpdateData().
    ApplyTrimLog(m_state, *this);
}

void CliServices::DisableButtons() {}

void CliServices::EnableButtons() {}

void CliServices::SetProgress(int percent)
{
    percent = std::clamp(percent, 0, 100);

    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    if (percent < m_lastPercent) {
        // A new transfer begins.
        m_lastPercent = -1;
        m_lastStep = 0;
    }
    if (percent == m_lastPercent)
        return;
    if (m_lastPercent < 0 || percent / 10 > m_lastPercent / 10)
        Record("prog", std::to_string(percent) + " %");
    m_lastPercent = percent;
    if (m_quiet)
        return;
    if (m_errIsTerminal) {
        m_barActive = true;
        DrawLive();
    } else if (percent / 10 > m_lastStep) {
        // A line for every 10 % step reached, not one per percent.
        m_lastStep = percent / 10;
        ErrLine("Progress: " + std::to_string(percent) + " %");
    }
    m_err.flush();
}

std::string CliServices::PortSelection()
{
    std::lock_guard lock(m_mutex);
    return m_port;
}

bool CliServices::Confirm(const std::string& text, const std::string& caption)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        if (m_assumeYes && m_quiet) {
            // Nothing is asked, so there is nothing to show.
            Record("err", caption + ": " + text + " (--yes given: going ahead)");
            return true;
        }
        // A question is a break: the log's unfinished line is shown whole
        // first, not hidden behind the prompt.
        StartOutLine();
        ErrLine(caption + ": " + text);
        if (m_assumeYes) {
            ErrLine("(--yes given: going ahead)");
            m_err.flush();
            return true;
        }
        if (!m_inIsTerminal) {
            // Nobody to ask: an upgrade must never start unconfirmed.
            ErrLine("No terminal to confirm on; give --yes to go ahead.");
            m_err.flush();
            return false;
        }
        EraseLive();
        m_err << "Continue? [y/N] ";
        m_errAtLineStart = false;
        m_out->flush();
        m_err.flush();
    }

    // The answer is awaited without the mutex: an interrupt must still be
    // able to say its last word.
    std::string answer;
    const bool answered = static_cast<bool>(std::getline(m_in, answer));

    std::unique_lock lock(m_mutex);
    if (!answered) {
        // Ctrl-C on a Windows console also ends the read, and the handler
        // that reports it may come a moment later; an interrupt, not "no",
        // must decide how the run ends.
        m_abandoned.wait_for(lock, kInterruptGrace, [this] { return m_closed; });
        if (m_closed) {
            // The interrupt ends the process with its own status.
            m_abandoned.wait(lock, [] { return false; });
        }
        m_err << "\n";
        m_err.flush();
    }
    m_errAtLineStart = true; // the user's Enter ended the prompt's line
    return answered && IsYes(answer);
}

void CliServices::ShowWarning(const std::string& text, const std::string& caption)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    ErrLine(caption + ": " + text);
    DrawLive();
    m_err.flush();
}

// Prints what the log gained since it was last shown; a log that was emptied
// or replaced starts on a line of its own.
void CliServices::SyncLog(const std::string& log)
{
    if (log.size() >= m_shownLog.size() && log.compare(0, m_shownLog.size(), m_shownLog) == 0) {
        RecordOut(log.substr(m_shownLog.size()));
        if (!m_quiet)
            EmitOut(log.substr(m_shownLog.size()));
    } else {
        RecordOutBreak();
        RecordOut(log);
        if (!m_quiet) {
            StartOutLine();
            EmitOut(log);
        }
    }
    m_shownLog = log;
    if (OutAtLineStart())
        FlushNotes();
}

// Line by line, so that queued notes follow the first line that ends.
void CliServices::EmitOut(const std::string& text)
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
void CliServices::PutOut(const std::string& piece)
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

bool CliServices::OutAtLineStart() const
{
    return m_shared ? m_outHeld.empty() : m_outAtLineStart;
}

void CliServices::StartOutLine()
{
    if (!OutAtLineStart())
        EmitOut("\n");
}

void CliServices::EndOutput()
{
    RecordOutBreak();
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

void CliServices::FlushNotes()
{
    std::vector<std::string> notes;
    notes.swap(m_notes);
    for (const std::string& note : notes)
        ErrLine(note);
}

// A line on the error stream: never in the middle of another line, and never
// on top of the live line, which is drawn again below it afterwards.
void CliServices::ErrLine(const std::string& text)
{
    Record("err", text);
    m_out->flush();
    EraseLive();
    if (!m_errAtLineStart)
        m_err << "\n";
    m_err << text << "\n";
    m_errAtLineStart = true;
}

void CliServices::EraseLive()
{
    if (m_liveShown.empty())
        return;
    m_err << kEraseLine;
    m_liveShown.clear();
}

void CliServices::DrawLive()
{
    // Only on a terminal, and not while a prompt waits on the line.
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

// The held part of the output's line, then the bar, cut from the left to fit
// the terminal's width: a line that wraps could no longer be erased.
std::string CliServices::LiveText() const
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
        text += ProgressBar(m_lastPercent, width);
    }
    if (room > 0 && text.size() > static_cast<std::size_t>(room))
        text.erase(0, text.size() - static_cast<std::size_t>(room));
    return text;
}

// The transcript gets every line whole, whatever --quiet holds back.
void CliServices::Record(const char* channel, const std::string& text)
{
    if (m_transcript != nullptr)
        m_transcript->Line(channel, text);
}

void CliServices::RecordOut(const std::string& text)
{
    if (m_transcript == nullptr)
        return;
    m_recordHeld += text;
    const std::size_t end = m_recordHeld.rfind('\n');
    if (end == std::string::npos)
        return;
    m_transcript->Line("out", m_recordHeld.substr(0, end));
    m_recordHeld.erase(0, end + 1);
}

void CliServices::RecordOutBreak()
{
    if (m_transcript == nullptr || m_recordHeld.empty())
        return;
    m_transcript->Line("out", m_recordHeld);
    m_recordHeld.clear();
}
