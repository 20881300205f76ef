#pragma once

#include <string>

struct SharedState;
class CliServices;

// Loads file as the dialog's Select File does: clears the model and version
// texts, sets firmwarePath, runs the loader on the name part and sets
// firmwareValid to 1 when the file may be sent. The loader's warning (a file
// that does not exist) goes to the error stream, followed by the reason the
// file could not be read (a directory, permission denied, not a regular
// file); verbose puts the file's name on the status line, as the dialog does.
// Returns whether the file may be sent.
bool SelectFirmwareFile(SharedState& state, CliServices& services, const std::string& file,
                        bool verbose);

// The answer to a file that may not be used: the firmware information text
// (which says why) and then why, on the error stream; what names what the
// command will not do. Returns kExitInvalidFile.
int RefuseFirmwareFile(SharedState& state, CliServices& services, const std::string& file,
                       const std::string& what);

// The part of a path after its last "/": the name the loader parses.
std::string FileNamePart(const std::string& path);
