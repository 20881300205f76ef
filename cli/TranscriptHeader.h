#pragma once

#include <string>

class CliOptions;
struct RunRecord;

// The --log transcript's first and last word on a run, so that runs appended
// to one file can be told apart and audited: which program, what was asked,
// with which file, on which port, by whom and where; and how it ended.
// Values are key=value, quoted where they may hold blanks, outside text made
// printable.

// "tool=... command=... file=... size=... crc16=... model=... date=...
// port=... device=... user=... host=...". The file is read here for its
// facts, before the run reads it (a file that cannot be read says why).
std::string TranscriptBeginLine(int argc, const char* const argv[], const CliOptions& options);

// "<status> outcome=... port=... device=... verified=... seconds=...", after
// the channel name "exit".
std::string TranscriptEndLine(const RunRecord& record);
