#include "cli/CliServices.h"

#include <istream>
#include <ostream>

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"

namespace {

constexpr int kBarWidth = 40;

std::string ProgressBar(int percent)
{
    const int filled = percent * kBarWidth / 100;
    std::string bar = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
        std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
    const std::string number = std::to_string(percent);
    return bar + std::string(3 - number.size(), ' ') + number + " %";
}

bool IsYes(const std::string& answer)
{
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

} // namespace

CliServices::CliServices(SharedState& state, std::ostream& out, std::ostream& err, std::istream& in,
                         bool errIsTerminal, bool inIsTerminal)
    : m_state(state), m_out(out), m_err(err), m_in(in), m_errIsTerminal(errIsTerminal),
      m_inIsTerminal(inIsTerminal)
{
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

void CliServices::PrintLine(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    EndProgressBar();
    StartOutLine();
    WriteOut(line + "\n");
    m_out.flush();
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
    EndProgressBar();
    if (log.size() >= m_shownLog.size() && log.compare(0, m_shownLog.size(), m_shownLog) == 0) {
        WriteOut(log.substr(m_shownLog.size()));
    } else {
        // Emptied or replaced: what is on the screen stays, the new text
        // starts on a line of its own.
        StartOutLine();
        WriteOut(log);
    }
    m_shownLog = log;
    m_out.flush();

    if (m_status != m_shownStatus) {
        StartErrLine();
        WriteErr(m_status + "\n");
        m_shownStatus = m_status;
        m_err.flush();
    }
}

void CliServices::TrimLog()
{
    // Not under the mutex: the rule pauses and then calls UpdateData().
    ApplyTrimLog(m_state, *this);
}

void CliServices::DisableButtons() {}

void CliServices::EnableButtons() {}

void CliServices::SetProgress(int percent)
{
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;

    std::lock_guard lock(m_mutex);
    if (percent < m_lastPercent) {
        // A new transfer begins.
        m_lastPercent = -1;
        m_lastStep = 0;
    }
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    if (m_errIsTerminal) {
        if (!m_barShown)
            StartErrLine();
        WriteErr(ProgressBar(percent));
        m_barShown = true;
        if (percent == 100)
            EndProgressBar();
    } else if (percent / 10 > m_lastStep) {
        // A line for every 10 % step reached, not one per percent.
        m_lastStep = percent / 10;
        StartErrLine();
        WriteErr("Progress: " + std::to_string(percent) + " %\n");
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
    std::lock_guard lock(m_mutex);
    EndProgressBar();
    m_out.flush();
    StartErrLine();
    WriteErr(caption + ": " + text + "\n");
    if (m_assumeYes) {
        WriteErr("(--yes given: going ahead)\n");
        m_err.flush();
        return true;
    }
    if (!m_inIsTerminal) {
        // Nobody to ask: an upgrade must never start unconfirmed.
        WriteErr("No terminal to confirm on; give --yes to go ahead.\n");
        m_err.flush();
        return false;
    }
    WriteErr("Continue? [y/N] ");
    m_err.flush();
    std::string answer;
    if (!std::getline(m_in, answer)) {
        WriteErr("\n");
        m_err.flush();
        return false;
    }
    m_errAtLineStart = true; // the user's Enter ended the prompt's line
    return IsYes(answer);
}

void CliServices::ShowWarning(const std::string& text, const std::string& caption)
{
    std::lock_guard lock(m_mutex);
    EndProgressBar();
    m_out.flush();
    StartErrLine();
    WriteErr(caption + ": " + text + "\n");
    m_err.flush();
}

void CliServices::WriteOut(const std::string& text)
{
    if (text.empty())
        return;
    m_out << text;
    m_outAtLineStart = text.back() == '\n';
}

void CliServices::WriteErr(const std::string& text)
{
    if (text.empty())
        return;
    m_err << text;
    m_errAtLineStart = text.back() == '\n';
}

// A bar left on the screen ends its line before anything else is written, so
// the next text does not land on top of it.
void CliServices::EndProgressBar()
{
    if (m_barShown) {
        WriteErr("\n");
        m_barShown = false;
    }
}

void CliServices::StartOutLine()
{
    if (!m_outAtLineStart)
        WriteOut("\n");
}

void CliServices::StartErrLine()
{
    if (!m_errAtLineStart)
        WriteErr("\n");
}
