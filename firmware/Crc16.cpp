#include "firmware/Crc16.h"

#include <cstdio>

#include <array>

namespace {

// Entry i is the CRC of the single byte i, so the loop below handles a whole
// byte per step instead of eight shifts.
constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

static_assert(kCrcTable[1] == 0x1021);
static_assert(kCrcTable[255] == 0x1EF0);

} // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::uint32_t length)
{
    std::uint16_t crc = 0;
    for (std::uint32_t i = 0; i < length; ++i)
        crc = static_cast<std::uint16_t>(kCrcTable[((crc >> 8) ^ data[i]) & 0xFF] ^ (crc << 8));
    return crc;
}

std::string Crc16Text(std::uint16_t crc)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(crc));
    return text;
}
