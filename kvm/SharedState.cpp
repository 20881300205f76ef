#include "kvm/SharedState.h"

#include <cstdio>

const char* SharedState::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(textBuffer, sizeof textBuffer, format, args);
    va_end(args);
    return textBuffer;
}
