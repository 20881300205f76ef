#pragma once

#include <string>

#include "firmware/FirmwareFile.h"

struct SharedState;
class DialogServices;

// How Select File ended for a front end that explains it.
struct FileSelection {
    FirmwareFileResult read; // why the file could not be read, if it could not
    bool valid = false;      // the file may be sent
};

// Select File once a file is chosen, for every front end: empties the model
// and version texts, stores path, checks the file under fileName (its name
// without folder) and sets firmwareValid to 1 when the file may be sent. The
// log is left alone: ShowFirmwareInfo shows what was found.
FileSelection SelectFirmwareFile(SharedState& state, DialogServices& services, const std::string& path,
                                 const std::string& fileName);

// The firmware information text into the log, shown at once.
void ShowFirmwareInfo(SharedState& state, DialogServices& services);
