#include "serial/StandardStreams.h"

void ReopenClosedStandardStreams()
{
    // Nothing to do: a port is a HANDLE of its own, never one of the C
    // runtime's descriptors 0 to 2, so output cannot land on the line.
}
