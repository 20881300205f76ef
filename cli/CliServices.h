#pragma once

#include <iosfwd>
#include <mutex>
#include <string>

#include "kvm/DialogServices.h"

struct SharedState;

// The command line's front end: the log goes to the output stream (normally
// stdout) as it grows, the status line, warnings, prompts and progress to the
// error stream (stderr). Every call may come from the upgrade worker's thread;
// the streams are written under one mutex.
class CliServices : public DialogServices {
public:
    // errIsTerminal: draw the progress as a bar redrawn in place, rather than
    // a line per 10 %. inIsTerminal: Confirm may ask on in.
    CliServices(SharedState& state, std::ostream& out, std::ostream& err, std::istream& in,
                bool errIsTerminal, bool inIsTerminal);

    // What PortSelection() answers: the --port value.
    void SetPortSelection(const std::string& port);
    // --yes: Confirm() shows its text and answers OK without asking.
    void SetAssumeYes(bool yes);
    // A line of the command's own on the output stream, after what the log
    // has shown so far.
    void PrintLine(const std::string& line);
    std::string Status() const;

    void SetStatus(const std::string& text) override;
    void UpdateData() override;
    void TrimLog() override;
    void DisableButtons() override;
    void EnableButtons() override;
    void SetProgress(int percent) override;
    std::string PortSelection() override;
    bool Confirm(const std::string& text, const std::string& caption) override;
    void ShowWarning(const std::string& text, const std::string& caption) override;

private:
    void WriteOut(const std::string& text);
    void WriteErr(const std::string& text);
    void EndProgressBar();
    void StartOutLine();
    void StartErrLine();

    SharedState& m_state;
    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
    const bool m_errIsTerminal;
    const bool m_inIsTerminal;

    mutable std::mutex m_mutex;
    std::string m_status;
    std::string m_shownStatus;
    std::string m_shownLog;
    std::string m_port = "AUTO";
    bool m_assumeYes = false;
    bool m_outAtLineStart = true;
    bool m_errAtLineStart = true;
    bool m_barShown = false;
    int m_lastPercent = -1;
    int m_lastStep = 0; // tens of percent reported, without a terminal
};
