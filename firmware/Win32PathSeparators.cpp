#include "firmware/FileName.h"

// The file box answers with "\", and a user may type either.
std::string_view PathSeparators()
{
    return "\\/";
}
