#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/FirmwareFile.h"

struct SharedState;
class DialogServices;

// Checks the file at state.firmwarePath (CRC-16, info record, else the file
// name) and leaves model, version, date fields, model index and family byte
// in the shared state. fileName is the chosen file's name without folder.
// The "File not exists!" box goes through services.ShowWarning.
// Returns how reading the file ended, so that a front end can say why a file
// "does not exist" (a directory, no permission, a pipe).
FirmwareFileResult LoadFirmwareInfo(SharedState& state, DialogServices& services,
                                    const std::string& fileName);

// The same checks on a file that has already been read: bytes holds the
// size bytes of the whole file. A size above kImageCapacity is refused like
// a CRC failure without any byte being looked at. LoadFirmwareInfo ends here
// once the file is in memory; the fuzz target calls it straight.
void LoadFirmwareInfoFromBytes(SharedState& state, const std::string& fileName,
                               const std::uint8_t* bytes, std::size_t size);

// An image of no bytes, or of zero bytes only, passes the CRC test (its CRC
// is 0) and is still no firmware: it is never sent.
enum class BlankImage { No, Empty, AllZero };
BlankImage FindBlankImage(const std::uint8_t* bytes, std::size_t size);

// The CRC-16 of an image without its two-byte trailer, which for an image
// that passed the CRC test is the value its trailer holds; 0 for an image
// shorter than the trailer. With the length, what the upgrade compares to
// make sure it sends the image that was checked.
std::uint16_t ImageBodyCrc(const std::uint8_t* bytes, std::size_t size);
