#pragma once

#include <string>

struct SharedState;
struct RunRecord;
class CliServices;

// Select File for a command: the file goes through the same Select File as
// the dialog's (kvm/SelectFile.h), with the file's name part as its name. The
// loader's warning (a file that does not exist) goes to the error stream,
// followed by the reason the file could not be read (a directory, permission
// denied, not a regular file); verbose puts the file's name on the status
// line, as the dialog does. Returns whether the file may be sent.
// The file's facts go into result.
bool SelectCommandFile(SharedState& state, CliServices& services, const std::string& file, bool verbose,
                       RunRecord& result);

// The answer to a file that may not be used: the firmware information text
// (which says why) and then why, on the error stream; what names what the
// command will not do. Returns kExitInvalidFile.
int RefuseFirmwareFile(SharedState& state, CliServices& services, const std::string& file,
                       const std::string& what);
