#pragma once

#include <string>

class Transcript;

// What the command line says, as the --log transcript takes it: every line
// whole, whatever --quiet holds back and however the terminal's lines were
// held or broken. Not locked: its owner calls it under a lock of its own.
class TranscriptRecorder {
public:
    // nullptr: none. The transcript must outlive this object's use.
    void SetTranscript(Transcript* transcript) { m_transcript = transcript; }

    // One line on a channel: "err", "stat", "prog".
    void Line(const char* channel, const std::string& text);
    // The output stream's text, recorded a line at a time as its lines end.
    void Out(const std::string& text);
    // The output's unfinished line, recorded as it stands: what follows
    // starts a line of its own (a log replaced, the end of the run).
    void OutBreak();

private:
    Transcript* m_transcript = nullptr;
    std::string m_held; // the output's unfinished line
};
