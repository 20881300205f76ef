#pragma once

#include <iosfwd>
#include <string>
#include <vector>

class TranscriptRecorder;

// The command line's two streams kept in lines: the output stream (the log,
// normally stdout) and the error stream (stderr), where every other line goes.
//
// On a terminal the progress is a bar on the error stream's last line (the
// "live line"), redrawn in place; every other line on the error stream first
// clears it and then draws it again below. Where both streams end up in the
// same place (one terminal, or 2>&1 into one file), the output stream's
// unfinished line is held back until it ends, so that no error line lands in
// the middle of a log entry; on a terminal the held part is shown on the live
// line meanwhile. Notes wait for the output's current line to end.
//
// Not locked: CliServices calls it under its own mutex, from any thread.
class TerminalLines {
public:
    // errIsTerminal: the live line may be drawn and redrawn on err.
    // Error lines are recorded in recorder too.
    TerminalLines(std::ostream& out, std::ostream& err, bool errIsTerminal, TranscriptRecorder& recorder);

    // The output and error streams reach the same terminal or file.
    void SetShared(bool shared) { m_shared = shared; }
    // The terminal's width, to keep the live line on one screen line.
    void SetColumns(int columns);
    // --json: the output stream's text goes to the error stream.
    void SendOutputToErrorStream();

    // Text on the output stream, line by line, so that queued notes follow
    // the first line that ends.
    void Out(const std::string& text);
    bool OutAtLineStart() const;
    // Ends the output's unfinished line, if any.
    void StartOutLine();
    // The end: ends the output's last line, takes the live line away and
    // shows the notes still queued.
    void EndOutput();

    // A line for after the output's current line; shown by FlushNotes.
    void AddNote(const std::string& text) { m_notes.push_back(text); }
    void FlushNotes();

    // A line on the error stream: never in the middle of another line, and
    // never on top of the live line, which DrawLive puts back below it.
    void ErrLine(const std::string& text);
    void EraseLive();
    void DrawLive();

    // The progress bar on the live line, at percent.
    void ShowBar(int percent);
    // The bar, where it stopped, as a line of its own; none any more.
    void LeaveBar();
    // No bar any more, and nothing left of it.
    void DropBar() { m_barActive = false; }

    // A question on the error stream, left open for the answer typed after
    // it; AnswerEnded says the line is done (newline: the answer did not end
    // it, so a line break does).
    void Ask(const std::string& question);
    void AnswerEnded(bool newline);

    void Flush();
    void FlushErr();

private:
    void PutOut(const std::string& piece);
    std::string LiveText() const;

    std::ostream* m_out; // the error stream itself under --json
    std::ostream& m_err;
    const bool m_errIsTerminal;
    TranscriptRecorder& m_recorder;

    bool m_shared = false;
    int m_columns = 80;
    std::string m_outHeld; // the output's unfinished line, held back when m_shared
    bool m_outAtLineStart = true;
    bool m_errAtLineStart = true;
    std::vector<std::string> m_notes;
    std::string m_liveShown; // what the live line shows now; empty = none
    bool m_barActive = false;
    int m_barPercent = 0;
};
