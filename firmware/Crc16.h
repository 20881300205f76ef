#pragma once

#include <cstdint>

// CRC-16/XMODEM: polynomial 0x1021, MSB first, initial value 0, no
// reflection, no final XOR. A file whose last two bytes are the CRC of the
// bytes before them (high byte first) gives 0 over its whole length.
std::uint16_t Crc16(const std::uint8_t* data, std::uint32_t length);
