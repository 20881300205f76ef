#pragma once

#include <string>

struct SharedState;
class DialogServices;

// Checks the file at state.firmwarePath (CRC-16, info record, else the file
// name) and leaves model, version, date fields, model index and family byte
// in the shared state. fileName is the chosen file's name without folder.
// The "File not exists!" box goes through services.ShowWarning.
void LoadFirmwareInfo(SharedState& state, DialogServices& services, const std::string& fileName);
