#include "kvm/VersionReply.h"

#include <algorithm>

#include "serial/FrameExchange.h"

VersionReply VersionReply::Parse(const std::uint8_t* reply, int count)
{
    VersionReply parsed;
    const int length = std::clamp(count, 0, kReplyBufferSize);
    for (int i = 0; i < 3; ++i) {
        const int offset = kDateOffset + i;
        parsed.m_date[i] = offset < length ? reply[offset] : 0;
    }
    for (int offset = kModelOffset; offset < length && reply[offset] != 0; ++offset)
        parsed.m_model.push_back(static_cast<char>(reply[offset]));
    return parsed;
}
