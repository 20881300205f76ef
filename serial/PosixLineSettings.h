#pragma once

#include "serial/SerialError.h"

// The fixed line settings the switch's loader expects, on a terminal
// descriptor: baudRate, 8 data bits, no parity, two stop bits, no flow
// control, DTR and RTS inactive, every byte value passed unchanged, reads
// that never block in the driver. Checked after they are set, since a
// terminal may take part of a request only.
namespace PosixLineSettings {

// False, with the reason in error (SettingsRefused), when the terminal did
// not take them.
bool Apply(int fd, int baudRate, SerialError& error);

} // namespace PosixLineSettings
