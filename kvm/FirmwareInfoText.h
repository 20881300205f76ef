#pragma once

#include <string>

struct SharedState;

// The firmware information text that Select File puts into the log, built
// into state.textBuffer (cut at its size) and returned: the longer wording
// with the Check Version hint when the file is valid and its date is known,
// the shorter one otherwise. Shared by the dialog and the command line.
std::string FirmwareInfoText(SharedState& state);

// Whether the loaded file may be sent to the switch: everything but a file
// that could not be read or failed its CRC.
bool FirmwareCountsAsValid(const SharedState& state);
