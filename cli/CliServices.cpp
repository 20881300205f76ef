#include "cli/CliServices.h"

#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>

#include "firmware/PrintableText.h"
#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"

namespace {

// How long a prompt whose read ended without an answer waits for the
// interrupt that may have ended it.
constexpr std::chrono::milliseconds kInterruptGrace{200};

bool IsYes(const std::string& answer)
{
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

} // namespace

CliServices::CliServices(SharedState& state, std::ostream& out, std::ostream& err, std::istream& in,
                         bool errIsTerminal, bool inIsTerminal)
    : m_state(state), m_in(in), m_errIsTerminal(errIsTerminal), m_inIsTerminal(inIsTerminal),
      m_lines(out, err, errIsTerminal, m_recorder)
{
}

void CliServices::SetSharedDestination(bool shared)
{
    std::lock_guard lock(m_mutex);
    m_lines.SetShared(shared);
}

void CliServices::SetColumns(int columns)
{
    std::lock_guard lock(m_mutex);
    m_lines.SetColumns(columns);
}

void CliServices::SendOutputToErrorStream()
{
    std::lock_guard lock(m_mutex);
    m_lines.SendOutputToErrorStream();
}

void CliServices::SetQuiet(bool quiet)
{
    std::lock_guard lock(m_mutex);
    m_quiet = quiet;
}

void CliServices::SetTranscript(Transcript* transcript)
{
    std::lock_guard lock(m_mutex);
    m_recorder.SetTranscript(transcript);
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

void CliServices::SetQuestionDetail(const std::string& detail)
{
    std::lock_guard lock(m_mutex);
    m_questionDetail = detail;
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
    m_recorder.Out(text);
    m_lines.Out(text);
    m_lines.DrawLive();
    m_lines.Flush();
}

void CliServices::PrintLine(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    m_recorder.OutBreak();
    m_recorder.Out(line + "\n");
    m_lines.StartOutLine();
    m_lines.Out(line + "\n");
    m_lines.DrawLive();
    m_lines.Flush();
}

void CliServices::PrintError(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    m_lines.ErrLine(text);
    m_lines.DrawLive();
    m_lines.FlushErr();
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
    m_lines.AddNote(text);
    if (m_lines.OutAtLineStart())
        m_lines.FlushNotes();
    m_lines.DrawLive();
    m_lines.Flush();
}

void CliServices::Finish()
{
    const std::string log = m_state.logText;

    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    SyncLog(log);
    EndOutput();
    // The bar stays on the screen where it stopped, on a line of its own.
    m_lines.LeaveBar();
    m_lines.Flush();
}

void CliServices::Abandon(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    // The log is not read here: its writer may be in the middle of a change.
    EndOutput();
    m_lines.DropBar();
    m_lines.ErrLine(text);
    m_lines.Flush();
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
            m_recorder.Line("stat", PrintableText(m_status));
            if (!m_quiet)
                m_lines.ErrLine(PrintableText(m_status));
        }
        m_shownStatus = m_status;
    }
    m_lines.DrawLive();
    m_lines.Flush();
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
            m_lines.DrawLive();
            m_lines.Flush();
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
        m_recorder.Line("prog", std::to_string(percent) + " %");
    m_lastPercent = percent;
    if (m_quiet)
        return;
    if (m_errIsTerminal) {
        m_lines.ShowBar(percent);
    } else if (percent / 10 > m_lastStep) {
        // A line for every 10 % step reached, not one per percent.
        m_lastStep = percent / 10;
        m_lines.ErrLine("Progress: " + std::to_string(percent) + " %");
    }
    m_lines.FlushErr();
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
            m_recorder.Line("err", caption + ": " + text + " (--yes given: going ahead)");
            return true;
        }
        // A question is a break: the log's unfinished line is shown whole
        // first, not hidden behind the prompt.
        m_lines.StartOutLine();
        m_lines.ErrLine(caption + ": " + text);
        if (m_assumeYes) {
            m_lines.ErrLine("(--yes given: going ahead)");
            m_lines.FlushErr();
            return true;
        }
        if (!m_inIsTerminal) {
            // Nobody to ask: an upgrade must never start unconfirmed.
            m_lines.ErrLine("No terminal to confirm on; give --yes to go ahead.");
            m_lines.FlushErr();
            return false;
        }
        std::size_t start = 0;
        while (start < m_questionDetail.size()) {
            const std::size_t end = std::min(m_questionDetail.find('\n', start), m_questionDetail.size());
            m_lines.ErrLine(PrintableText(std::string_view(m_questionDetail).substr(start, end - start)));
            start = end + 1;
        }
        m_lines.Ask("Continue? [y/N] ");
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
    }
    // The user's Enter ended the prompt's line; without an answer, a line
    // break does.
    m_lines.AnswerEnded(!answered);
    return answered && IsYes(answer);
}

void CliServices::ShowWarning(const std::string& text, const std::string& caption)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    m_lines.ErrLine(caption + ": " + text);
    m_lines.DrawLive();
    m_lines.FlushErr();
}

std::string CliServices::OutsideText(std::string_view text) const
{
    return PrintableText(text);
}

// Prints what the log gained since it was last shown; a log that was emptied
// or replaced starts on a line of its own.
void CliServices::SyncLog(const std::string& log)
{
    if (log.size() >= m_shownLog.size() && log.compare(0, m_shownLog.size(), m_shownLog) == 0) {
        Emit(log.substr(m_shownLog.size()));
    } else {
        m_recorder.OutBreak();
        m_recorder.Out(log);
        if (!m_quiet) {
            m_lines.StartOutLine();
            m_lines.Out(log);
        }
    }
    m_shownLog = log;
    if (m_lines.OutAtLineStart())
        m_lines.FlushNotes();
}

void CliServices::Emit(const std::string& text)
{
    m_recorder.Out(text);
    if (!m_quiet)
        m_lines.Out(text);
}

void CliServices::EndOutput()
{
    m_recorder.OutBreak();
    m_lines.EndOutput();
}
