#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Every
// program calls it first: a serial port opened while stdout is closed would
// land on descriptor 1, and the log would be written into the switch.
void ReopenClosedStandardStreams();
