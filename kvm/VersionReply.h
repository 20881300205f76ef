#pragma once

#include <cstdint>
#include <string>

// The switch's answer to a version request: its date fields in bytes 3, 4
// and 5, its model text from byte 6 up to a zero byte. Only the bytes that
// actually arrived are read: a date byte that did not arrive reads as 0, and
// a model text without its zero ends with the reply.
class VersionReply {
public:
    static constexpr int kDateOffset = 3;
    static constexpr int kModelOffset = 6;
    // A reply shorter than this lacks date bytes: it is no version reply.
    static constexpr int kMinimumLength = kDateOffset + 3;

    // reply: the reply buffer; count: the bytes ReceiveReply stored in it
    // (clamped to 0..256).
    static VersionReply Parse(const std::uint8_t* reply, int count);

    // n: 1, 2 or 3, in the order of the firmware's date fields.
    int DateField(int n) const { return m_date[n - 1]; }
    // The bytes as the switch sent them; a front end shows them through
    // DialogServices::OutsideText.
    const std::string& Model() const { return m_model; }

private:
    int m_date[3] = {};
    std::string m_model;
};
