#pragma once

#include <cstdint>
#include <string>

// CRC-16/XMODEM: polynomial 0x1021, MSB first, initial value 0, no
// reflection, no final XOR. A file whose last two bytes are the CRC of the
// bytes before them (high byte first) gives 0 over its whole length.
std::uint16_t Crc16(const std::uint8_t* data, std::uint32_t length);

// A file's CRC-16 as every report writes it, "0x5DEF": the --json object and
// the transcript must name a file alike.
std::string Crc16Text(std::uint16_t crc);
