#pragma once

#include <iosfwd>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

#include "cli/TerminalLines.h"
#include "cli/TranscriptRecorder.h"
#include "kvm/DialogServices.h"

struct SharedState;
class Transcript;

// The command line's front end: the log goes to the output stream (normally
// stdout) as it grows, the status line, warnings, prompts and progress to the
// error stream (stderr), each on a line of its own. Every call may come from
// the upgrade worker's thread; the streams are written under one mutex, so
// writing to them must never block: main() hands it streams over an
// OutputQueue, and an interrupt waits for that mutex too. How the lines of
// the two streams are kept apart, and the progress bar drawn, is
// TerminalLines'; what goes to the --log transcript, TranscriptRecorder's.
class CliServices : public DialogServices {
public:
    // errIsTerminal: draw the progress as a bar redrawn in place, rather than
    // a line per 10 %. inIsTerminal: Confirm may ask on in.
    CliServices(SharedState& state, std::ostream& out, std::ostream& err, std::istream& in,
                bool errIsTerminal, bool inIsTerminal);

    // The output and error streams reach the same terminal or file.
    void SetSharedDestination(bool shared);
    // The terminal's width, to keep the live line on one screen line.
    void SetColumns(int columns);

    // --json: the log and the command's own text go to the error stream,
    // leaving the output stream to the one object printed at the end.
    void SendOutputToErrorStream();
    // --quiet: no log, no status lines, no progress; errors, warnings,
    // notes and the confirmation still show.
    void SetQuiet(bool quiet);
    // --log: every line, --quiet or not, also goes to the transcript, which
    // must outlive this object's use. nullptr: none.
    void SetTranscript(Transcript* transcript);

    // What PortSelection() answers: the --port value.
    void SetPortSelection(const std::string& port);
    // --yes: Confirm() shows its text and answers OK without asking.
    void SetAssumeYes(bool yes);
    // What the next question adds below the confirmation's own text (the
    // switch, both dates), shown only when someone is asked; may hold lines.
    void SetQuestionDetail(const std::string& detail);

    // Text of the command's own on the output stream, after what the log has
    // shown so far. PrintLine starts a line of its own.
    void PrintText(const std::string& text);
    void PrintLine(const std::string& line);
    // A line (or several) on the error stream, now.
    void PrintError(const std::string& text);
    // A line on the error stream once the output stream's current line has
    // ended: a reason that belongs after the log entry it explains.
    void QueueNote(const std::string& text);

    // The end of the command: shows what the log has not shown yet, ends the
    // output's last line, shows the notes still queued and leaves a progress
    // bar on a line of its own. Call on the thread that wrote the log last.
    void Finish();
    // The end of the process from any thread (an interrupt): ends the lines
    // as Finish does with what has been shown, writes text on the error
    // stream, flushes both streams, and drops everything written afterwards.
    void Abandon(const std::string& text);

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
    // A name or a model text may hold an escape sequence that would retitle
    // the terminal, or a line break that would split its line: their control
    // bytes are written as \xNN (PrintableText).
    std::string OutsideText(std::string_view text) const override;

private:
    // All of these expect m_mutex held.
    void SyncLog(const std::string& log);
    // Text of the output stream's, for the transcript and, unless quiet, the stream.
    void Emit(const std::string& text);
    void EndOutput();

    SharedState& m_state;
    std::istream& m_in;
    const bool m_errIsTerminal;
    const bool m_inIsTerminal;

    mutable std::mutex m_mutex;
    TranscriptRecorder m_recorder;
    TerminalLines m_lines;
    bool m_quiet = false;
    bool m_closed = false; // after Abandon: nothing more is written
    std::condition_variable m_abandoned; // m_closed became true
    std::string m_status;
    std::string m_shownStatus;
    std::string m_shownLog;
    std::string m_port = "AUTO";
    bool m_assumeYes = false;
    std::string m_questionDetail;
    int m_lastPercent = -1;
    int m_lastStep = 0; // tens of percent reported, without a terminal
};
