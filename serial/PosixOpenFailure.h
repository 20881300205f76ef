#pragma once

#include <string>

#include "serial/SerialError.h"

// Why a terminal device could not be opened, as far as the system can tell
// at the moment of the failure: the kind from errno, and for a busy device
// the program that holds it, for a refused one the group that would let the
// user in. Asked at once, since the holder may let go before anyone reads it.
namespace PosixOpenFailure {

SerialError::Kind KindForErrno(int err);

// Fills error with kind and err, and explains Busy and PermissionDenied.
void Explain(SerialError& error, const std::string& device, SerialError::Kind kind, int err);

// Names holderPid's program in error, as Busy: a holder found some other way
// than by the device (a lock file).
void NameHolderPid(SerialError& error, long holderPid);

} // namespace PosixOpenFailure
