#include "firmware/FileName.h"

// A "\" is an ordinary character of a name here.
std::string_view PathSeparators()
{
    return "/";
}
