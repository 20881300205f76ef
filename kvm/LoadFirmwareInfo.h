#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareInfo.h"

struct SharedState;
class DialogServices;

// Checks the file at state.firmwarePath (CRC-16, info record, else the file
// name) and leaves model, version, date fields, model index and family byte
// in the shared state. fileName is the chosen file's name without folder;
// what it gives for model and version goes through services.OutsideText.
// The "File not exists!" box goes through services.ShowWarning.
// Returns how reading the file ended, so that a front end can say why a file
// "does not exist" (a directory, no permission, a pipe).
FirmwareFileResult LoadFirmwareInfo(SharedState& state, DialogServices& services,
                                    const std::string& fileName);

// The same checks on a file that has already been read: bytes holds the
// size bytes of the whole file. A size above kImageCapacity is refused like
// a CRC failure without any byte being looked at. The texts a name gives are
// kept as its bytes are, with no front end to ask how to show them (the fuzz
// target calls it).
void LoadFirmwareInfoFromBytes(SharedState& state, const std::string& fileName,
                               const std::uint8_t* bytes, std::size_t size);

// Writes what the checks found into the shared state. Every field of the
// firmware information is written, except the date fields when no date is
// known (they keep their values, flagged unknown), and firmwareValid, which
// only a refused file changes (to 0): marking a file valid is Select File's.
void StoreFirmwareInfo(SharedState& state, const FirmwareInfo& info);
